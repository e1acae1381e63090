#pragma once
// Where images and projects enter and leave the program: the Open dialog, paths from the
// command line, the operating system and the recent menus, the installation of a source
// image into the document, saving the cut-out as PNG or TIFF, and the project files. Keeps
// the recent-files and recent-projects lists. One per main window, reached process-wide
// through instance().

#include "document/ProjectStreamCheck.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class KsMainWindow;
class KsSourceImage;
class QFile;
class QFileDevice;
class QWidget;

class FileHandler : public QObject {
    Q_OBJECT
public:
    // Reads the recent lists as stored, and becomes the process-wide handler. The window
    // (which may be null) is not owned.
    explicit FileHandler(KsMainWindow* mainWindow);
    ~FileHandler() override;

    // Null while no handler exists.
    static FileHandler* instance();

    static const QString projectSuffix;
    static const int maxRecentEntries = 5;
    // The project container: magic, version, image fingerprint, then the document map.
    static constexpr qint32 projectMagic = 0x08E11602;
    static constexpr qint32 projectVersion = 11;
    // Cut-out formats, as KsSourceImage's file kinds.
    enum CutoutFormat { CutoutPng = 1, CutoutTiff = 2 };

    // The image's identity in a project: the low 16 bits of its checksum, 0 without one.
    static quint16 fingerprint(const KsSourceImage* image);

    const QList<int>& projectVersions() const { return m_projectVersions; }
    const QString& cutoutPath() const { return m_cutoutPath; }
    int cutoutFormat() const { return m_cutoutFormat; }
    const QString& projectPath() const { return m_projectPath; }
    int cutoutSavedStamp() const { return m_cutoutSavedStamp; }
    int projectSavedStamp() const { return m_projectSavedStamp; }
    const QStringList& recentFiles() const { return m_recentFiles; }
    const QStringList& recentProjects() const { return m_recentProjects; }

    // Opens a path that names a project (exactly the project suffix) or an image, once the
    // current work may be dropped. A host launch takes no image this way.
    void loadFile(const QString& path);
    // Reads the image file and installs it; a file that cannot be read is reported by the
    // reader and leaves the document as it was.
    bool loadImage(const QString& path);
    // Opens the project file as the document; an empty path re-reads the current project.
    // The project path, the last folder and the recent projects change only when the file
    // was loaded; a refused file is reported and leaves the open document as it was.
    virtual bool loadProject(const QString& path = QString());
    // Reads and checks the whole container, then replaces the document. Reports a refusal.
    bool loadProject(QFile& file);
    // Writes the container from the document as it is now (the cut-out waited for by the
    // caller); false when the device did not take all of it.
    bool saveProject(QFileDevice& file);

    // The Save As dialog from the default name (or the last cut-out's file), then the write.
    bool saveCutoutAs(const QString& defaultName);
    // Writes the cut-out to the cutout path in the cutout format; a failed write is reported.
    bool saveCutout();
    // The Open dialog for an image; the chosen file's folder becomes the start folder of the
    // next one at once. Empty when cancelled.
    QString askImageFilename(QWidget* parent = nullptr);

    // Records the image's file in the recent files, then installs it. On false the images are
    // still the caller's; on true they are the document's.
    bool setSourceImage(KsSourceImage* image, KsSourceImage* cutout);
    // Makes the image the document's source image. Refuses (false, images still the caller's)
    // while the engine is still starting on the previous one, and takes no image that is not
    // valid. The cut-out image may be null.
    bool installSourceImage(KsSourceImage* image, KsSourceImage* cutout);

    // Puts the project file first in the recent projects; announces a change.
    bool addRecentProject(const QString& path);
    // Puts the existing file's canonical path first in the list, at most five entries, and
    // stores the list under the key. False, with nothing written, when there is no such file
    // or it is first already.
    static bool addToRecentList(const QString& path, QStringList& list, const QString& key);

public slots:
    void fileOpenSlot();
    void fileCloseSlot();
    // Save and Save As of the cut-out; false when nothing was written.
    bool fileSaveSlot();
    bool fileSaveAsSlot();
    void projectSaveSlot();
    void projectSaveAsSlot();
    void projectLoadSlot();
    void projectRevertSlot();
    // A new image, or none: the next cut-out Save asks where to write.
    void imageChangedSlot(const KsSourceImage* image);
    // Entries of the recent menus: they ask before the current work is dropped.
    void recentFileChosenSlot(const QString& path);
    void recentProjectChosenSlot(const QString& path);

signals:
    void recentFilesChanged(const QStringList& files);
    void recentProjectsChanged(const QStringList& projects);

private:
    // The main window's close check; true without a window.
    bool discardCheck() const;
    // "File is not of the correct format" for a project file that was read and refused.
    void refuseFormat(const QString& fileName) const;
    // "Could not open file" for a project file that cannot be opened or read.
    void refuseOpen(const QString& fileName) const;
    // The length of the document value that follows the container's header, as the stream
    // check finds it, and the pictures it holds; -1 when it is not a document of ours. The file
    // stays where it was.
    static qint64 checkedDocumentLength(QFile& file, QList<ProjectStreamCheck::Picture>& pictures);
    QString openImageDialog(QWidget* parent, const QString& filter) const;
    bool addRecentFile(const QString& path);
    // Writes the project path through a temporary file, so that a failed save leaves the old
    // file as it was; marks the document saved only on success.
    bool saveProjectFile();
    enum SavedFile { CutoutFile, ProjectFile };
    // The engine works on its worker: before a save writes, the commands that change what it
    // writes and that run or wait as it is asked are waited for (the cut-outs for a cut-out,
    // every change of the document for a project). False, with the refusal naming the file
    // in the status bar, when they did not finish or the document was replaced meanwhile:
    // nothing is written then. A replaced document is also told in a message box. By value:
    // the cut-out path is cleared when another document comes in during the wait.
    bool readyToSave(SavedFile kind, QString path);
    // Saves the document to the file once it is ready; the file becomes the project only when
    // it holds the document. By value: the project path may change while the save waits.
    bool saveProjectTo(QString path);
    void setProjectPath(const QString& path);
    void showStatus(const QString& message) const;
    // A name the program changed after the dialog may name a file the user never chose to
    // replace: asks. False when the user keeps the file.
    bool replaceAllowed(const QString& path, const QString& title) const;
    static int changeCounter();
    // The change count of the document as it is written now: changes still on the worker are
    // not in the file.
    static int finishedChangeCount();
    // The engine is still starting on an image: starting its library or its session.
    static bool engineStarting();

    QList<int> m_projectVersions;
    KsMainWindow* m_mainWindow;
    QString m_cutoutPath;
    int m_cutoutFormat = 1;
    QString m_projectPath;
    // The change count that the written cut-out was made from, not the one at the save: a
    // change made after the cut-out is not in its file and keeps the close check asking.
    int m_cutoutSavedStamp = 0;
    int m_projectSavedStamp = 0;
    // A loaded project's session may open only once the engine has let the old one go; the
    // commands that restore the document are submitted then and are no change of the user's.
    bool m_stampWhenSessionOpens = false;
    QStringList m_recentFiles;
    QStringList m_recentProjects;
};
