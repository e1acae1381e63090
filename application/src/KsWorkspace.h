#pragma once
// The scroll area that is the image view's one page, shared by all its tabs. It will hold the
// canvas and turn the view's zoom and navigation requests into scroll positions; for now it is
// the bare frameless area.

#include "ImageCoordinates.h"

#include <QScrollArea>

class ImageView;

class KsWorkspace : public QScrollArea {
    Q_OBJECT
public:
    explicit KsWorkspace(ImageView* view);

    ImageView* imageView() const { return m_view; }

signals:
    // The image rectangle shown in the viewport and the zoom.
    void sayDisplayedRectChanged(GRectF displayed, qreal zoom);

private:
    ImageView* m_view;
};
