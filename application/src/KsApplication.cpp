#include "KsApplication.h"

#include "KsMainWindow.h"

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
    // The path is opened here once the control-file reader and the file handler exist: a
    // ".okrx" path as a control file, any other as a project or an image.
    return true;
}
