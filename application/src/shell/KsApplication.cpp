#include "shell/KsApplication.h"

#include "document/Prompt.h"
#include "document/Texts.h"
#include "shell/FileHandler.h"
#include "shell/Klogger.h"
#include "shell/KsMainWindow.h"
#include "shell/Tunnelry.h"

#include <QFileOpenEvent>
#include <QSplashScreen>

KsApplication::KsApplication(int& argc, char** argv) : QApplication(argc, argv) {}

KsApplication::~KsApplication()
{
    delete m_splash;
}

void KsApplication::setSplash(QSplashScreen* splash)
{
    if (splash != m_splash)
        delete m_splash;
    m_splash = splash;
}

QSplashScreen* KsApplication::takeSplash()
{
    QSplashScreen* splash = m_splash;
    m_splash = nullptr;
    return splash;
}

bool KsApplication::event(QEvent* event)
{
    if (event->type() != QEvent::FileOpen)
        return QApplication::event(event);
    m_fileOpenPath = static_cast<QFileOpenEvent*>(event)->file();
    if (!KsMainWindow::instance())
        return QApplication::event(event);
    if (m_fileOpenPath.endsWith(QStringLiteral(".okrx"), Qt::CaseInsensitive)) {
        openControlFile(m_fileOpenPath);
        return true;
    }
    if (FileHandler* handler = FileHandler::instance())
        handler->loadFile(m_fileOpenPath);
    return true;
}

void KsApplication::openControlFile(const QString& path)
{
    QString problem;
    try {
        if (!Tunnelry::create(path)->read())
            problem = QStringLiteral("Unable to read XML control file: ") + path;
    } catch (const QString& text) {
        problem = text;
    }
    if (problem.isEmpty())
        return;
    Klogger::stream() << problem << Klogger::endl;
    Prompt::warning(KsMainWindow::instance(), productName(),
                    QStringLiteral("<p>") + problem.toHtmlEscaped() + QStringLiteral("</p>"));
}
