#include "shell/FileHandler.h"

#include "document/GmModel.h"
#include "document/ImageMemory.h"
#include "document/KsSourceImage.h"
#include "document/ProjectStreamCheck.h"
#include "document/Prompt.h"
#include "document/Texts.h"
#include "document/UserFiles.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdAnalyseImage.h"
#include "engine/DvCmdBeginSession.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdInit.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"

#include <QApplication>
#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QPointer>
#include <QSaveFile>
#include <QSettings>
#include <QStatusBar>
#include <QVariant>

#include <memory>

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

// Fixed both ways, so that a file does not depend on the Qt 5 release that wrote or reads it.
constexpr QDataStream::Version kProjectStreamVersion = QDataStream::Qt_5_15;

const QString kPngFilter = QStringLiteral("%1 %2").arg(QStringLiteral("Portable Network Graphics"),
                                                        QStringLiteral("(*.png)"));
const QString kTiffFilter = QStringLiteral("%1 (*.tif)").arg(QStringLiteral("Tagged Image File Format"));

// The extension a cut-out filter stands for: from its last "." up to its closing bracket.
QString filterExtension(const QString& filter)
{
    const int dot = filter.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || filter.size() - dot < 2)
        return QString();
    return filter.mid(dot, filter.size() - dot - 1);
}

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
    m_stampWhenSessionOpens = false;
    GmModel::instance()->closeImage();
}

void FileHandler::imageChangedSlot(const KsSourceImage* image)
{
    m_cutoutPath.clear();
    // The loaded project's session has opened: the document is as the file holds it.
    if (image && m_stampWhenSessionOpens) {
        m_stampWhenSessionOpens = false;
        m_projectSavedStamp = changeCounter();
    }
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
    // The cut-out copy is made here: failing in the model, it would take the caller's image
    // with it.
    std::unique_ptr<KsSourceImage> copy;
    if (!cutout) {
        // The copy holds pixels of its own in the source's depth; the working images follow it.
        const qint64 width = image->width();
        const qint64 height = image->height();
        const imagememory::Held held = image->masterKind() == KsSourceImage::Master16Bit
                                           ? imagememory::Held::Own16Bit
                                           : imagememory::Held::Own8Bit;
        const quint64 toCopy = imagememory::toHold(width, height, held) + imagememory::toWork(width, height);
        // The user reads what opening the image takes in all, its pixels read already included.
        const quint64 whole = imagememory::toOpen(width, height, held);
        imagememory::Shortage shortage = imagememory::weigh(width, height, toCopy);
        if (shortage.isSet()) {
            shortage.needed = whole;
            imagememory::tell(image->fileName(), shortage, m_mainWindow);
            return false;
        }
        copy = std::make_unique<KsSourceImage>(*image);
        if (!copy->isValid()) {
            if (copy->lackedMemory()) {
                copy.reset();
                imagememory::tell(image->fileName(), imagememory::allocationFailed(width, height, whole), m_mainWindow);
            }
            return false;
        }
    }

    const QString& name = image->fileName();
    // An image made from data or handed over by a host names no folder.
    if (!name.isEmpty() && QFileInfo::exists(name))
        storeLastImageDir(name);
    if (m_mainWindow && !name.isEmpty())
        m_mainWindow->statusBar()->showMessage(name, 2000);
    m_projectPath.clear();
    m_stampWhenSessionOpens = false;

    GmModel* model = GmModel::instance();
    model->closeImage();

    if (m_mainWindow) {
        if (m_mainWindow->isMinimized())
            m_mainWindow->showNormal();
        m_mainWindow->activateWindow();
    }

    // Given valid images the model refuses none; it owns them from here on.
    if (!model->setImage(1, 1, image, cutout ? cutout : copy.release()))
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

// ---- Shared helpers ----------------------------------------------------------------------------

int FileHandler::changeCounter()
{
    const DravikThread* worker = DravikThread::instance();
    return worker ? worker->changeCounter() : 0;
}

int FileHandler::finishedChangeCount()
{
    const DravikThread* worker = DravikThread::instance();
    return worker ? worker->finishedChangeCount() : 0;
}

void FileHandler::showStatus(const QString& message) const
{
    if (m_mainWindow)
        m_mainWindow->statusBar()->showMessage(message, 2000);
}

bool FileHandler::replaceAllowed(const QString& path, const QString& title) const
{
    if (!QFileInfo::exists(path))
        return true;
    const QString text = tr("%1 already exists. Do you want to replace it?", "[ks3]")
                             .arg(QDir::toNativeSeparators(path));
    return Prompt::question(m_mainWindow, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

void FileHandler::setProjectPath(const QString& path)
{
    m_projectPath = path;
    // Revert Project is offered only with a project file.
    if (m_mainWindow)
        m_mainWindow->updateActionEnablednessSlot();
}

quint16 FileHandler::fingerprint(const KsSourceImage* image)
{
    return image && image->isValid() ? quint16(image->checksum() & 0xFFFF) : 0;
}

// ---- Saving the cut-out ------------------------------------------------------------------------

bool FileHandler::fileSaveSlot()
{
    if (!GmModel::instance()->output())
        return false;
    if (m_cutoutPath.isEmpty())
        return fileSaveAsSlot();
    const bool saved = saveCutout();
    if (saved)
        m_cutoutSavedStamp = DvCmdGenerateMask::cutoutStamp();
    return saved;
}

bool FileHandler::fileSaveAsSlot()
{
    const KsSourceImage* source = GmModel::instance()->source();
    if (!source)
        return false;
    const QFileInfo file(source->fileName());
    const QString suffix = QCoreApplication::translate(
        "KsApp", "Cutout", "[ks3]String added to the original filename to construct the default name of the output file");
    return saveCutoutAs(QStringLiteral("%1/%2%3").arg(file.absolutePath(), file.completeBaseName(), suffix));
}

bool FileHandler::saveCutoutAs(const QString& defaultName)
{
    const QString start = m_cutoutPath.isEmpty() ? defaultName : m_cutoutPath;
    const QString title = tr("Save As", "[ks3]");
    QString selectedFilter = kPngFilter;
    QString name = Prompt::getSaveFileName(m_mainWindow, title, start, kPngFilter + QStringLiteral(";;") + kTiffFilter,
                                           &selectedFilter);
    if (name.isEmpty())
        return false;

    const QString extension = filterExtension(selectedFilter);
    bool renamed = false;
    if (QFileInfo(name).suffix().isEmpty()) {
        name += extension;
        renamed = !extension.isEmpty();
    }
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("tif") && suffix != QLatin1String("tiff")) {
        const QFileInfo chosen(name);
        const QString replacement = chosen.completeBaseName() + QStringLiteral(".png");
        Prompt::warning(m_mainWindow, title,
                        tr("<p>To preserve the transparency of the background, cut-outs can be saved only in PNG or "
                           "TIF format.</p><p>The filename: <font color=blue>%1</font> will be replaced by <font "
                           "color=blue>%3</font></p>",
                           "[ks3]")
                            .arg(chosen.fileName(), replacement));
        name = chosen.dir().filePath(replacement);
        renamed = true;
    }
    // The dialog asked about the name it returned, not about the one written.
    if (renamed && !replaceAllowed(name, title))
        return false;

    // The selected filter alone decides the format, whatever the name's suffix.
    const QString format = extension.toLower();
    if (format == QLatin1String(".tif") || format == QLatin1String(".tiff"))
        m_cutoutFormat = CutoutTiff;
    else if (format == QLatin1String(".png"))
        m_cutoutFormat = CutoutPng;

    storeLastImageDir(name);
    m_cutoutPath = name;
    const bool saved = saveCutout();
    if (saved)
        m_cutoutSavedStamp = DvCmdGenerateMask::cutoutStamp();
    return saved;
}

bool FileHandler::saveCutout()
{
    showStatus(tr("Saving cut-out %1...", "[ks3]").arg(QFileInfo(m_cutoutPath).fileName()));
    if (!GmModel::instance()->output())
        return false;
    if (!readyToSave(CutoutFile, m_cutoutPath))
        return false;
    KsSourceImage* cutout = GmModel::instance()->output();
    if (!cutout)
        return false;
    cutout->setFileName(m_cutoutPath);
    cutout->setFileKind(m_cutoutFormat);
    bool saved = false;
    QString reason;
    {
        WaitCursor cursor;
        saved = cutout->save(&reason);
    }
    if (!saved)
        Prompt::warning(m_mainWindow, productName(),
                        tr("Could not save cut-out to file\n%1", "[ks3]").arg(m_cutoutPath) + QStringLiteral("\n\n")
                            + reason);
    return saved;
}

// ---- Project files -----------------------------------------------------------------------------

namespace {

QString projectFilter()
{
    return QStringLiteral("%1 (*.%2)")
        .arg(FileHandler::tr("Kestrine Project", "[ks3]Description of .okrp (project) files"), FileHandler::projectSuffix);
}

} // namespace

void FileHandler::projectSaveAsSlot()
{
    const KsSourceImage* source = GmModel::instance()->source();
    if (!source)
        return;
    const QString title = tr("Save Project", "[ks3]");
    const QString start = QStringLiteral("%1/%2.%3")
                              .arg(lastImageDir(), QFileInfo(source->fileName()).completeBaseName(), projectSuffix);
    QString name = Prompt::getSaveFileName(m_mainWindow, title, start, projectFilter());
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix() != projectSuffix) {
        name += QStringLiteral(".%1").arg(projectSuffix);
        if (!replaceAllowed(name, title))
            return;
    }
    storeLastImageDir(name);
    if (saveProjectTo(name))
        addRecentProject(name);
}

void FileHandler::projectSaveSlot()
{
    if (m_projectPath.isEmpty()) {
        projectSaveAsSlot();
        return;
    }
    saveProjectTo(m_projectPath);
}

bool FileHandler::readyToSave(SavedFile kind, QString path)
{
    const QString name = QFileInfo(path).fileName();
    GmModel* model = GmModel::instance();
    QPointer<FileHandler> self(this);
    // The wait runs the event loop: a dropped image or a project may take the document's place.
    // Whatever image is announced meanwhile, or none, the one asked to be saved is gone.
    bool replaced = false;
    const QMetaObject::Connection watch =
        connect(model, &GmModel::tellImageChanged, this, [&replaced] { replaced = true; });
    GmModel::CommandFilter changesFile;
    if (kind == ProjectFile) {
        // Everything but the edge analysis changes the statuses, the sessions or the cut-out
        // that a project holds.
        changesFile = [](const DravikCommand* command) { return !qobject_cast<const DvCmdAnalyseImage*>(command); };
    }
    const GmModel::EngineWait wait = model->waitForEngine(changesFile);
    if (!self)
        return false;
    disconnect(watch);
    QString refusal;
    if (replaced) {
        refusal = kind == ProjectFile
                      ? tr("Project not saved to %1: the document was replaced while the save waited", "[ks3]")
                      : tr("Cut-out not saved to %1: the document was replaced while the save waited", "[ks3]");
    } else if (wait == GmModel::WaitGivenUp && kind == ProjectFile) {
        refusal = tr("Project not saved to %1: the save was canceled", "[ks3]");
    } else if (wait != GmModel::WaitCompleted) {
        refusal = kind == ProjectFile ? tr("Project not saved to %1: the cut-out was not finished", "[ks3]")
                                      : tr("Cut-out not saved to %1: the cut-out was not finished", "[ks3]");
    }
    if (refusal.isEmpty())
        return true;
    showStatus(refusal.arg(name));
    // Not the user's own Cancel, and the engine's progress on the new document overwrites the
    // status bar at once: told as a failed write is.
    if (replaced) {
        const QString failed = kind == ProjectFile ? tr("Could not save project to file\n%1", "[ks3]")
                                                   : tr("Could not save cut-out to file\n%1", "[ks3]");
        Prompt::warning(m_mainWindow, productName(),
                        failed.arg(path) + QStringLiteral("\n\n")
                            + tr("The document was replaced while the save waited", "[ks3]"));
    }
    return false;
}

bool FileHandler::saveProjectTo(QString path)
{
    showStatus(tr("Saving project %1...", "[ks3]").arg(QFileInfo(path).fileName()));
    if (!readyToSave(ProjectFile, path))
        return false;
    // The write goes to the project path. A failed one gives the project back its name, unless
    // another document came in while its message was shown.
    const QString previous = m_projectPath;
    m_projectPath = path;
    if (!saveProjectFile()) {
        if (m_projectPath == path)
            m_projectPath = previous;
        return false;
    }
    setProjectPath(path);
    return true;
}

bool FileHandler::saveProjectFile()
{
    QSaveFile file(m_projectPath);
    if (!file.open(QIODevice::WriteOnly)) {
        Prompt::warning(m_mainWindow, productName(), tr("Could not open file \n%1", "[ks3]").arg(m_projectPath));
        return false;
    }
    // Until commit the old file stays in place; a failed write discards the temporary one.
    const bool written = saveProject(file);
    QString reason;
    if (!userfiles::commit(file, written, &reason)) {
        qWarning("FileHandler: cannot save the project %s: %s", qUtf8Printable(m_projectPath),
                 qUtf8Printable(reason));
        Prompt::warning(m_mainWindow, productName(),
                        tr("Could not save project to file\n%1", "[ks3]").arg(m_projectPath) + QStringLiteral("\n\n")
                            + reason);
        return false;
    }
    m_projectSavedStamp = finishedChangeCount();
    return true;
}

bool FileHandler::saveProject(QFileDevice& file)
{
    WaitCursor cursor;
    const GmModel* model = GmModel::instance();
    QDataStream out(&file);
    out.setVersion(kProjectStreamVersion);
    out << projectMagic << projectVersion << fingerprint(model->source()) << QVariant(model->saveToVariant());
    return out.status() == QDataStream::Ok && file.error() == QFileDevice::NoError;
}

void FileHandler::projectLoadSlot()
{
    if (!discardCheck())
        return;
    const QString path =
        Prompt::getOpenFileName(m_mainWindow, tr("Load Project", "[ks3]"), lastImageDir(), projectFilter());
    if (!path.isEmpty())
        loadProject(path);
}

void FileHandler::projectRevertSlot()
{
    if (m_projectPath.isEmpty())
        return;
    if (m_mainWindow && !m_mainWindow->okToClose(tr("Reverting project...", "[ks3]")))
        return;
    loadProject(QString());
}

bool FileHandler::loadProject(const QString& path)
{
    const QString fileName = path.isEmpty() ? m_projectPath : path;
    if (fileName.isEmpty())
        return false;
    showStatus(tr("Loading Project %1...", "[ks3]").arg(QFileInfo(fileName).fileName()));
    if (!userfiles::mayOpen(fileName, "Project")) {
        refuseOpen(fileName);
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        refuseOpen(fileName);
        return false;
    }
    const bool loaded = loadProject(file);
    file.close();
    if (!loaded)
        return false;

    // Only a loaded file becomes the project: a later Save never writes into a refused one.
    if (!path.isEmpty()) {
        storeLastImageDir(path);
        setProjectPath(path);
    }
    // Stamped now when the session opened at once, else when it opens.
    if (!m_stampWhenSessionOpens)
        m_projectSavedStamp = changeCounter();
    if (!path.isEmpty())
        addRecentProject(path);
    return true;
}

void FileHandler::refuseFormat(const QString& fileName) const
{
    Prompt::warning(m_mainWindow, productName(), tr("File is not of the correct format \n%1", "[ks3,lmr]").arg(fileName));
}

void FileHandler::refuseOpen(const QString& fileName) const
{
    Prompt::warning(m_mainWindow, productName(), tr("Could not open file\n%1", "[ks3]").arg(fileName));
}

qint64 FileHandler::checkedDocumentLength(QFile& file, QList<ProjectStreamCheck::Picture>& pictures)
{
    const qint64 start = file.pos();
    const qint64 left = file.size() - start;
    if (left <= 0)
        return -1;
    // Mapped, so that the image blobs are not copied; read only where the file cannot be mapped.
    if (uchar* bytes = file.map(start, left)) {
        const qint64 length = ProjectStreamCheck::valueLength(reinterpret_cast<const char*>(bytes), left, &pictures);
        file.unmap(bytes);
        return length;
    }
    const QByteArray rest = file.read(left);
    if (!file.seek(start))
        return -1;
    return ProjectStreamCheck::valueLength(rest.constData(), rest.size(), &pictures);
}

bool FileHandler::loadProject(QFile& file)
{
    const QString fileName = file.fileName();
    // A file whose bytes cannot be read is one that cannot be opened, not one of another format.
    const auto refuse = [this, &file, &fileName] {
        if (file.error() == QFileDevice::ReadError)
            refuseOpen(fileName);
        else
            refuseFormat(fileName);
        return false;
    };

    WaitCursor cursor;
    QDataStream in(&file);
    in.setVersion(kProjectStreamVersion);
    qint32 magic = 0;
    in >> magic;
    if (in.status() != QDataStream::Ok || magic != projectMagic)
        return refuse();
    qint32 version = 0;
    in >> version;
    if (in.status() != QDataStream::Ok)
        return refuse();
    if (!m_projectVersions.contains(version)) {
        Prompt::warning(m_mainWindow, productName(),
                        tr("Cannot load unsupported version %1 of %2 file \n%3", "[ks3,lmr]")
                            .arg(QString::number(version), projectSuffix, fileName));
        return false;
    }
    quint16 stored = 0;
    in >> stored;
    if (in.status() != QDataStream::Ok)
        return refuse();
    GmModel* model = GmModel::instance();
    // A host hands over one image: a project of another image does not belong to it.
    if (launchedByHost() && (!model->source() || fingerprint(model->source()) != stored)) {
        Prompt::warning(m_mainWindow, productName(),
                        tr("Cannot load %1 file\n\n%2\n\nbecause it was not created from the current image", "[ks3]")
                            .arg(projectSuffix, fileName));
        return false;
    }

    // The whole document is read and checked before the open one is given up; the model
    // replaces it only when all of it is usable. Qt's reader trusts the counts, the nesting and
    // the types it finds: only a document that the stream check takes for one of ours reaches
    // it, and its reading must end where the check ended.
    const qint64 start = file.pos();
    QList<ProjectStreamCheck::Picture> pictures;
    const qint64 length = checkedDocumentLength(file, pictures);
    if (length < 0)
        return refuse();
    // Qt's reader decodes the pictures in it as it goes: their sizes are checked from their
    // headers first, against each other and against the memory available.
    imagememory::Shortage shortage;
    if (!model->storedPicturesUsable(pictures, &shortage)) {
        if (shortage.isSet()) {
            imagememory::tell(fileName, shortage, m_mainWindow);
            return false;
        }
        return refuse();
    }
    QVariant document;
    in >> document;
    if (in.status() != QDataStream::Ok || file.pos() != start + length
        || document.userType() != QMetaType::QVariantMap)
        return refuse();
    m_stampWhenSessionOpens = true;
    if (!model->loadFromVariant(document, &shortage)) {
        m_stampWhenSessionOpens = false;
        // A sound project of an image too large for the memory is no damaged file.
        if (shortage.isSet()) {
            imagememory::tell(fileName, shortage, m_mainWindow);
            return false;
        }
        return refuse();
    }
    return true;
}
