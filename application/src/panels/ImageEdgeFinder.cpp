#include "panels/ImageEdgeFinder.h"

#include "document/GmModel.h"
#include "panels/EdgeDetectionOptions.h"

#include <QCoreApplication>

namespace {

ImageEdgeFinder* g_edgeFinder = nullptr;

} // namespace

ImageEdgeFinder::ImageEdgeFinder(QWidget* parent, QWidget* actionHost, const QString& shortcut)
    : GmSubWindow(title(false), title(true), actionHost, shortcut, parent),
      m_options(new EdgeDetectionOptions(true))
{
    setWidget(m_options);
    // Enabled when an image arrives.
    m_options->setEnabled(false);
    g_edgeFinder = this;
    GmModel::setEdgePanelVisibleHook([] { return g_edgeFinder && g_edgeFinder->isVisible(); });
}

ImageEdgeFinder::~ImageEdgeFinder()
{
    if (g_edgeFinder == this) {
        g_edgeFinder = nullptr;
        GmModel::setEdgePanelVisibleHook(nullptr);
    }
}

ImageEdgeFinder* ImageEdgeFinder::instance()
{
    return g_edgeFinder;
}

QString ImageEdgeFinder::title(bool translated)
{
    return translated ? tr("Edge Finding", "[ks3]") : QStringLiteral("Edge Finding");
}

QString ImageEdgeFinder::showObjectEdgesText(bool translated)
{
    return translated ? tr("Show Object Edges", "[ks3]") : QStringLiteral("Show Object Edges");
}

bool ImageEdgeFinder::hasDefaultSize() const
{
    return false;
}

SegmentationStuff* ImageEdgeFinder::segmentation() const
{
    return m_options->record();
}
