#pragma once
// Saving tests on the started program: the photograph analysed, marked with a Keep and a
// Delete stroke and cut out; files in the scratch folder; the cut-out's alpha; a lowered
// file-size limit that makes writes fail.

#include "document/Brushing.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "engine/DvCmdSelect.h"
#include "shell/KsApp.h"

#include "FileSizeLimit.h"
#include "HoldCommand.h"
#include "MainWindowRun.h"
#include "ScratchFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace testsupport {

// A stroke between two image points, submitted to the engine behind whatever it holds: Keep
// is kind 2, Delete kind 4. By default it marks only unassigned pixels.
inline void submitStroke(QPointF from, QPointF to, quint8 kind, int mode, quint8 overwrite = 1)
{
    Brushing brushing(QColor(Qt::green));
    brushing.startStroke(from, 9);
    brushing.addSegment(to, 9);
    worker()->submit(new DvCmdSelect(GmModel::instance(), &brushing, overwrite, kind, 0, mode));
}

// The same stroke, once the engine has made it.
inline void markStroke(QPointF from, QPointF to, quint8 kind, int mode, quint8 overwrite = 1)
{
    submitStroke(from, to, kind, mode, overwrite);
    engineIdle();
}

// A change to the cut-out document: Keep over part of what was deleted. Submitted only, or made.
inline void submitChangeOfMarks()
{
    submitStroke({20, 30}, {60, 40}, 2, 1, 0xFF);
}

inline void changeMarks()
{
    submitChangeOfMarks();
    engineIdle();
}

// Points of the photograph inside the Keep and the Delete stroke.
inline const QPoint keptPoint{220, 155};
inline const QPoint deletedPoint{35, 10};

// The open photograph analysed, a Keep stroke on the cat, a Delete stroke in the corner and
// the cut-out made from them.
inline bool cutOut()
{
    GmModel* model = GmModel::instance();
    model->segmentation()->edos().sensitivity().setCurrent(50);
    model->segmentation()->submitAnalysis(nullptr);
    if (!engineIdle())
        return false;
    markStroke({200, 150}, {240, 160}, 2, 0);
    markStroke({10, 10}, {60, 10}, 4, 1);
    model->generateMaskSlot();
    return engineIdle();
}

// The status image's bytes, row by row.
inline QByteArray statusBytes()
{
    QByteArray bytes;
    const GmStatusArray* statuses = GmModel::instance()->statusArray();
    const QImage* image = statuses ? statuses->statusImage() : nullptr;
    if (!image)
        return bytes;
    for (int y = 0; y < image->height(); ++y)
        bytes.append(reinterpret_cast<const char*>(image->constScanLine(y)), image->width());
    return bytes;
}

// The image's master pixels, row by row.
inline QByteArray pixelBytes(KsSourceImage* image)
{
    QByteArray bytes;
    if (!image)
        return bytes;
    const DvImageDesc pixels = image->fullResolutionPixels();
    const int rowBytes = pixels.width * (pixels.pixelType == DvPixelRgba8 ? 4 : 8);
    for (int y = 0; y < pixels.height; ++y)
        bytes.append(static_cast<const char*>(pixels.data) + std::size_t(y) * pixels.stride, rowBytes);
    return bytes;
}

// An image's alpha at a pixel, on 0..1.
inline double alphaAt(KsSourceImage& image, QPoint at)
{
    const DvImageDesc pixels = image.fullResolutionPixels();
    const auto* row = static_cast<const uchar*>(pixels.data) + std::size_t(at.y()) * pixels.stride;
    switch (pixels.pixelType) {
    case DvPixelRgba8:
        return row[at.x() * 4 + 3] / 255.0;
    case DvPixelRgba16:
        return reinterpret_cast<const quint16*>(row)[at.x() * 4 + 3] / 65535.0;
    case DvPixelRgba16H:
        return reinterpret_cast<const quint16*>(row)[at.x() * 4 + 3] / 32768.0;
    }
    return -1;
}

// The image's alpha, one byte a pixel, row by row.
inline QByteArray alphaBytes(KsSourceImage& image)
{
    const DvImageDesc pixels = image.fullResolutionPixels();
    QByteArray bytes;
    bytes.reserve(pixels.width * pixels.height);
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x)
            bytes.append(char(qRound(alphaAt(image, QPoint(x, y)) * 255)));
    return bytes;
}

// Changes the marks and asks for the new cut-out, which waits behind a command held on the
// engine until release is set. Returns the alpha of the cut-out from before.
inline QByteArray changeMarksAndHoldTheNewCutout(std::atomic<bool>& release)
{
    changeMarks();
    const QByteArray before = alphaBytes(*GmModel::instance()->output());
    worker()->submit(new HoldCommand(&release));
    GmModel::instance()->generateMaskSlot();
    return before;
}

// Runs the body on the started program once the photograph is cut out. Unless the case
// watches the close check itself, the window then goes without asking.
inline void runOnCutOutDocument(const std::function<void()>& body, bool quietClose = true)
{
    KsApp::setStartUpHook([body, quietClose](QWidget* window) {
        const bool ready = openPhoto() && cutOut();
        EXPECT_TRUE(ready);
        if (ready)
            body();
        engineIdle();
        if (quietClose)
            mainWindow()->setPromptOnDiscard(false);
        // A close check that asks unexpectedly is answered Cancel: the case fails, not hangs.
        QTimer::singleShot(30000, window, [window] {
            ADD_FAILURE() << "the window did not close";
            mainWindow()->setPromptOnDiscard(false);
            window->close();
        });
        closeSoon(window);
    });
    runMain({"kestrine3"});
}

} // namespace testsupport
