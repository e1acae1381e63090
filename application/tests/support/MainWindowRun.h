#pragma once
// Tests that run the program's own main with its main window: the window and its engine worker,
// the photograph as the document, and the image-editor plug-in's hand-over of the photograph
// through two memory files.

#include "document/Brushing.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSelect.h"
#include "shell/FileHandler.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"

#include "ProgramRun.h"
#include "Wait.h"

#include "platform/shared_memory.h"

#include <QAction>
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstring>
#include <ostream>
#include <string>
#include <unistd.h>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

inline const QString chelseaPath = QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png");

inline KsMainWindow* mainWindow()
{
    return KsMainWindow::instance();
}

inline DravikThread* worker()
{
    return DravikThread::instance();
}

inline bool engineIdle()
{
    return waitUntil([] { return !worker()->isBusy() && worker()->isQueueEmpty(); }, 60000);
}

// The window's own action with the menu text; null when there is none.
inline QAction* windowAction(const QString& text)
{
    for (QAction* candidate : mainWindow()->actions())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

// A Keep stroke across the document, without any analysis: work that a discard would lose.
inline void keepStroke()
{
    Brushing brushing(QColor(Qt::green));
    brushing.startStroke(QPointF(100, 100), 9);
    brushing.addSegment(QPointF(160, 120), 9);
    worker()->submit(new DvCmdSelect(GmModel::instance(), &brushing, 1, 2, 0, 0));
    engineIdle();
}

inline void closeSoon(QWidget* window)
{
    QTimer::singleShot(0, window, &QWidget::close);
}

// Soon after a save begins to wait for a held cut-out: lets the cut-out go and, once it has
// ended, makes the photograph the document, as a dropped image answered in the wait's loop.
inline void replaceTheDocumentWhileTheSaveWaits(std::atomic<bool>& release, bool& replaced)
{
    QTimer::singleShot(50, mainWindow(), [&release, &replaced] {
        release = true;
        waitUntil([] { return !GmModel::instance()->cutoutPending(); });
        auto* image = new KsSourceImage(chelseaPath);
        replaced = FileHandler::instance()->installSourceImage(image, nullptr);
        if (!replaced)
            delete image;
    });
}

// The photograph as the document, once its session has begun.
inline bool openPhoto()
{
    return GmModel::instance()->setImage(1, 1, new KsSourceImage(chelseaPath), nullptr) && engineIdle();
}

// The host's images as the document (the launch installs them), once its session has begun.
inline bool openHandedOverImage()
{
    KsApp* app = KsApp::instance();
    GmModel* model = GmModel::instance();
    if (!app->sourceImage() || model->source() != app->sourceImage())
        return false;
    return engineIdle();
}

// A launch whose descriptors name nothing: no image.
inline int runEmptyTunnel()
{
    return runMain({"kestrine3", "--tn", "0000FFF0", "0000FFF1", "4", "4", "8", "little", "empty"});
}

// The image-editor plug-in's side: the photograph in both memory files, read back afterwards.
class PhotoHandOver {
public:
    PhotoHandOver()
    {
        m_photo = QImage(chelseaPath).convertToFormat(QImage::Format_RGBA8888);
        const std::size_t bytes = std::size_t(m_photo.width()) * std::size_t(m_photo.height()) * 4;
        for (platform::SharedMemoryHandle* handle : {&m_source, &m_result}) {
            *handle = platform::createSharedMemory(bytes);
            platform::SharedMemoryView view(*handle);
            for (int y = 0; y < m_photo.height(); ++y)
                std::memcpy(view.data() + std::size_t(y) * rowBytes(), m_photo.constScanLine(y), rowBytes());
        }
    }
    ~PhotoHandOver()
    {
        platform::closeSharedMemory(m_source);
        platform::closeSharedMemory(m_result);
    }
    PhotoHandOver(const PhotoHandOver&) = delete;
    PhotoHandOver& operator=(const PhotoHandOver&) = delete;

    // The program takes and closes descriptors of its own, as a child's inherited ones.
    int run()
    {
        return runMain({"kestrine3", "--tn", platform::formatHandle(dup(m_result)), platform::formatHandle(dup(m_source)),
                        std::to_string(m_photo.width()), std::to_string(m_photo.height()), "8", "little", "chelsea"});
    }

    const QImage& photo() const { return m_photo; }
    QImage result() const
    {
        QImage image(m_photo.size(), QImage::Format_RGBA8888);
        platform::SharedMemoryView view(m_result);
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(image.scanLine(y), view.data() + std::size_t(y) * rowBytes(), rowBytes());
        return image;
    }

private:
    std::size_t rowBytes() const { return std::size_t(m_photo.width()) * 4; }

    QImage m_photo;
    platform::SharedMemoryHandle m_source = platform::kNoSharedMemory;
    platform::SharedMemoryHandle m_result = platform::kNoSharedMemory;
};

} // namespace testsupport
