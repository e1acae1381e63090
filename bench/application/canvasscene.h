#pragma once
// The canvas benchmarks' scene: a 4-megapixel enlarged photograph placed in the model without
// the engine, a status overlay over it and an image view whose viewport is 1600 x 1000.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"

#include "benchsupport.h"

#include "dravik.h"

#include <QApplication>

#include <cstdint>
#include <memory>
#include <vector>

// Places an image in the model without starting the engine.
struct GmModelTestAccess {
    static void setSource(KsSourceImage* source) { GmModel::instance()->m_source = source; }
};

namespace benchsupport {

class CanvasScene {
public:
    static constexpr int viewWidth = 1600;
    static constexpr int viewHeight = 1000;

    // statusOf(x, y, width, height) gives each working pixel's status byte.
    template <typename StatusOf>
    explicit CanvasScene(StatusOf statusOf)
    {
        const testsupport::RgbaImage8 photo = enlargedPhoto("chelsea.png", 4.0, 1.5);
        m_pixels.resize(std::size_t(photo.width) * photo.height);
        for (int y = 0; y < photo.height; ++y) {
            const std::uint8_t* s = photo.row(y);
            for (int x = 0; x < photo.width; ++x, s += 4)
                m_pixels[std::size_t(y) * photo.width + x] = qRgba(s[0], s[1], s[2], s[3]);
        }
        m_image = std::make_unique<KsSourceImage>(
            KsSourceImage::View8{photo.width, photo.height, reinterpret_cast<std::uint8_t*>(m_pixels.data()),
                                 qint64(photo.width) * 4},
            QStringLiteral("photo"));
        GmModel* model = GmModel::instance();
        model->chooseResolutionForPixelCount(1);
        GmModelTestAccess::setSource(m_image.get());
        m_image->updateWorkingImage();

        const int w = photo.width;
        const int h = photo.height;
        m_status.resize(std::size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                m_status[std::size_t(y) * w + x] = std::uint8_t(statusOf(x, y, w, h));
        m_record.width = w;
        m_record.height = h;
        m_record.stride = w;
        m_record.pixelType = DvPixelStatus;
        m_record.data = m_status.data();
        model->statusArray()->setStatusImage(&m_record);

        m_view = std::make_unique<ImageView>();
        const QSize viewSize(viewWidth, viewHeight);
        m_view->resize(viewSize + QSize(100, 100));
        m_view->show();
        QApplication::processEvents();
        const QSize extra = m_view->size() - m_view->workspace()->viewport()->size();
        m_view->resize(viewSize + extra);
        QApplication::processEvents();
    }
    ~CanvasScene()
    {
        m_view.reset();
        GmModel::instance()->deleteAllArrowTargets();
        GmModel::instance()->statusArray()->setStatusImage(nullptr);
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
    }

    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QSize viewport() const { return m_view->workspace()->viewport()->size(); }
    // Zoom, then the middle of the image in the middle of the view.
    void show(double zoom)
    {
        canvas()->setZoom(true, zoom);
        QApplication::processEvents();
        m_view->centreViewportOnSlot(QPoint(m_image->width() / 2, m_image->height() / 2));
        QApplication::processEvents();
    }

private:
    std::vector<std::uint32_t> m_pixels;
    std::unique_ptr<KsSourceImage> m_image;
    std::vector<std::uint8_t> m_status;
    DvImage m_record{};
    std::unique_ptr<ImageView> m_view;
};

} // namespace benchsupport
