#pragma once
// The "Edge Finding" panel: the image's edge-finding options, persistable between runs. It is
// disabled until an image arrives. While it exists it tells the model whether it is shown.

#include "panels/GmSubWindow.h"

class EdgeDetectionOptions;
class SegmentationStuff;

class ImageEdgeFinder : public GmSubWindow {
    Q_OBJECT
public:
    ImageEdgeFinder(QWidget* parent, QWidget* actionHost, const QString& shortcut);
    ~ImageEdgeFinder() override;

    // The panel while one exists, else null.
    static ImageEdgeFinder* instance();
    // "Edge Finding", the panel's title and, untranslated, its name.
    static QString title(bool translated);
    // "Show Object Edges": the view option that shows the edges found here.
    static QString showObjectEdgesText(bool translated);

    bool hasDefaultSize() const override;

    EdgeDetectionOptions* edgeOptions() const { return m_options; }
    // The image's record the panel shows, null when none; the shell reads its current
    // sensitivity to decide whether showing the edges is useful.
    SegmentationStuff* segmentation() const;

signals:
    void normalModeToggled();

private:
    EdgeDetectionOptions* m_options;
};
