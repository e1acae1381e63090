#include "FileHandler.h"

#include "DravikCommand.h"
#include "DravikThread.h"
#include "DvCmdBeginSession.h"
#include "DvCmdInit.h"
#include "GmModel.h"
#include "KsApp.h"
#include "KsMainWindow.h"
#include "KsSourceImage.h"
#include "Prompt.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QSettings>
#include <QStatusBar>

namespace {

FileHandler* g_fileHandler = nullptr;

const QString kGroup = QStringLiteral("FileHandling");
const QString kLastImageDir = QStringLiteral("FileHandling/LastImageDir");
const QString kRecentFiles = QStringLiteral("RecentFiles");
const QString kRecentProjects = QStringLiteral("RecentProjects");

QString lastImageDir()
{
    return QSettings().value(kLastImageDir, QDir::homePath()).toString();
}

void storeLastImageDir(const QString& file)
{
    QSettings().setValue(kLastImageDir, QFileInfo(file).absolutePath());
}

// Every format the Qt reader knows, then TIFF, which our own reader takes.
QString imagePatterns()
{
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.%1").arg(QString::fromLatin1(format));
    return patterns.join(QLatin1Char(' ')) + QStringLiteral(" *.tif *.tiff");
}

// QFileDialog::DontUseSheet by value: the name is deprecated, the dialog is kept out of a sheet
// where the platform has them.
constexpr QFileDialog::Option kDontUseSheet = QFileDialog::Option(0x8);

bool launchedByHost()
{
    const KsApp* app = KsApp::instance();
    return app && app->launchedByHost();
}

// The wait cursor while a file is read; restored however the reading ends.
class WaitCursor {
public:
    WaitCursor()
    {
        if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_set = true;
        }
    }
    ~WaitCursor()
    {
        if (m_set)
            QApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_set = false;
};

} // namespace

const QString FileHandler::projectSuffix = QStringLiteral("okrp");

FileHandler::FileHandler(KsMainWindow* mainWindow)
    : QObject(mainWindow), m_projectVersions{8, 9, 10, 11}, m_mainWindow(mainWindow)
{
    g_fileHandler = this;

    QSettings settings;
    settings.beginGroup(kGroup);
    m_recentFiles = settings.value(kRecentFiles).toStringList();
    m_recentProjects = settings.value(kRecentProjects).toStringList();
    settings.endGroup();

    connect(GmModel::instance(), &GmModel::tellImageChanged, this, &FileHandler::imageChangedSlot);
}

FileHandler::~FileHandler()
{
    if (g_fileHandler == this)
        g_fileHandler = nullptr;
}

FileHandler* FileHandler::instance()
{
    return g_fileHandler;
}

bool FileHandler::discardCheck() const
{
    return !m_mainWindow || m_mainWindow->okToClose(KsMainWindow::tr("Unsaved changes", "[all]"));
}

// ---- Opening -----------------------------------------------------------------------------------

QString FileHandler::openImageDialog(QWidget* parent, const QString& filter) const
{
    return Prompt::getOpenFileName(parent, tr("Open", "[all]"), lastImageDir(), filter, nullptr,
                                   kDontUseSheet);
}

void FileHandler::fileOpenSlot()
{
    if (!discardCheck())
        return;
    const QString filter = tr("Images (%1)", "[all]").arg(imagePatterns()) + tr(";;All files (*)", "[all]");
    const QString path = openImageDialog(m_mainWindow, filter);
    if (path.isEmpty())
        return;
    loadImage(path);
}

QString FileHandler::askImageFilename(QWidget* parent)
{
    const QString filter = tr("Images (%1)", "[all]A description of the type of file we can load").arg(imagePatterns())
                           + tr(";;All files (*)", "[all]");
    const QString path = openImageDialog(parent, filter);
    if (!path.isEmpty())
        storeLastImageDir(path);
    return path;
}

void FileHandler::loadFile(const QString& path)
{
    if (!discardCheck())
        return;
    if (QFileInfo(path).suffix() == projectSuffix) {
        loadProject(path);
        return;
    }
    // A host's launch has its document already; a path from outside does not replace it.
    if (!launchedByHost())
        loadImage(path);
}

bool FileHandler::loadImage(const QString& path)
{
    WaitCursor cursor;
    auto* image = new KsSourceImage(path);
    if (image->isValid() && setSourceImage(image, nullptr))
        return true;
    delete image;
    return false;
}

bool FileHandler::loadProject(const QString& path)
{
    qWarning("FileHandler: project files cannot be opened by this build: %s", qUtf8Printable(path));
    return false;
}

void FileHandler::recentFileChosenSlot(const QString& path)
{
    if (discardCheck())
        loadImage(path);
}

void FileHandler::recentProjectChosenSlot(const QString& path)
{
    if (discardCheck())
        loadProject(path);
}

void FileHandler::fileCloseSlot()
{
    if (!discardCheck())
        return;
    m_projectPath.clear();
    GmModel::instance()->closeImage();
}

void FileHandler::imageChangedSlot(const KsSourceImage*)
{
    m_cutoutPath.clear();
}

// ---- Installing --------------------------------------------------------------------------------

bool FileHandler::setSourceImage(KsSourceImage* image, KsSourceImage* cutout)
{
    // Recorded even when the installation is refused below.
    if (image)
        addRecentFile(image->fileName());
    return installSourceImage(image, cutout);
}

bool FileHandler::engineStarting()
{
    const DravikThread* worker = DravikThread::instance();
    if (!worker)
        return false;
    auto queues = [worker](const QMetaObject& kind) {
        for (DravikCommand* command : worker->queue())
            if (kind.cast(command))
                return true;
        return false;
    };
    DravikCommand* running = worker->currentCommand();
    return DvCmdInit::staticMetaObject.cast(running) || queues(DvCmdInit::staticMetaObject)
           || DvCmdBeginSession::staticMetaObject.cast(running) || queues(DvCmdBeginSession::staticMetaObject);
}

bool FileHandler::installSourceImage(KsSourceImage* image, KsSourceImage* cutout)
{
    // The model deletes an image it refuses; checked here, a refused image stays the caller's.
    if (!image || !image->isValid() || (cutout && !cutout->isValid()))
        return false;
    if (engineStarting())
        return false;

    const QString& name = image->fileName();
    // An image made from data or handed over by a host names no folder.
    if (!name.isEmpty() && QFileInfo::exists(name))
        storeLastImageDir(name);
    if (m_mainWindow && !name.isEmpty())
        m_mainWindow->statusBar()->showMessage(name, 2000);
    m_projectPath.clear();

    GmModel* model = GmModel::instance();
    model->closeImage();

    if (m_mainWindow) {
        if (m_mainWindow->isMinimized())
            m_mainWindow->showNormal();
        m_mainWindow->activateWindow();
    }

    if (!model->setImage(1, 1, image, cutout))
        return false;
    if (m_mainWindow)
        m_mainWindow->switchToWorkspaceTab();
    return true;
}

// ---- Recent lists ------------------------------------------------------------------------------

bool FileHandler::addRecentFile(const QString& path)
{
    if (!addToRecentList(path, m_recentFiles, kRecentFiles))
        return false;
    emit recentFilesChanged(m_recentFiles);
    return true;
}

bool FileHandler::addRecentProject(const QString& path)
{
    if (!addToRecentList(path, m_recentProjects, kRecentProjects))
        return false;
    emit recentProjectsChanged(m_recentProjects);
    return true;
}

bool FileHandler::addToRecentList(const QString& path, QStringList& list, const QString& key)
{
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists())
        return false;
    // The canonical form finds an entry however its folders were written.
    const QString entry = QDir::toNativeSeparators(file.canonicalFilePath());
    if (entry.isEmpty() || (!list.isEmpty() && list.first() == entry))
        return false;
    list.removeAll(entry);
    list.prepend(entry);
    if (list.size() > maxRecentEntries)
        list.erase(list.begin() + maxRecentEntries, list.end());

    QSettings settings;
    settings.beginGroup(kGroup);
    settings.setValue(key, list);
    return true;
}
