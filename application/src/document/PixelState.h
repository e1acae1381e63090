#pragma once
// A shape's raster mask at the working resolution and the cut-out's result snapshot over it.
//
// The mask is an 8-bit indexed image, 1 inside the shape and 0 outside, whose offset() is its
// top-left in working coordinates. It never changes once set: a rebuild replaces the image,
// and the bytes of the earlier one live as long as any copy of it (QImage shares them), so
// whoever hands them to the engine for longer than one call keeps a copy of mask() or takes
// the whole PixelState from its shape.
//
// The snapshot (savemask) is a separate image of the mask's size holding, inside the shape,
// the class bits (status & 15) that the cut-out produced there; the key is the blending map it
// ran with.

#include "dravik.h"

#include <QBrush>
#include <QImage>
#include <QList>
#include <QPen>
#include <QVariant>

class BlendingOptions;

class PixelState {
public:
    PixelState();
    virtual ~PixelState();
    PixelState(const PixelState&) = delete;
    PixelState& operator=(const PixelState&) = delete;

    // The style the mask is (to be) painted with.
    const QPen& pen() const { return m_pen; }
    const QBrush& brush() const { return m_brush; }
    bool hasStyle() const { return m_styled; }
    bool styleDiffers(const QPen& pen, const QBrush& brush) const;
    void setStyle(const QPen& pen, const QBrush& brush);

    // True once a mask was set, even an empty one (a shape outside the image).
    bool isRasterised() const { return m_rasterised; }
    bool hasMask() const { return !m_mask.isNull(); }
    const QImage& mask() const { return m_mask; }
    QPoint offset() const { return m_mask.offset(); }
    // The mask's rectangle in working coordinates; empty without a mask.
    QRect maskRect() const;
    // Takes an 8-bit indexed 0/1 image carrying its offset (a null image for an empty mask);
    // drops the snapshot, which belonged to the previous mask.
    void setMask(const QImage& mask);
    // The mask as the engine takes a stroke or patch: left and top in working coordinates,
    // one byte a pixel (DvPixelStatus), the image's bytes per line as stride. All zero
    // without a mask. The engine must only read the bytes.
    DvSelection selection() const;
    // Drops mask, snapshot and key (the style stays). Masks kept for the engine stay.
    void clear();
    // Keeps the current mask's bytes for as long as this state lives, whatever later rebuilds
    // or clears do: an engine sub-session made over them reads them until it ends, and the
    // state goes only with (or after) the command that ends it.
    void keepForEngine();

    bool isSaved() const { return m_saved; }
    const QImage& savedStatus() const { return m_savedStatus; }
    const QVariant& key() const { return m_key; }
    void setKey(const QVariant& key) { m_key = key; }
    // Snapshots status & 15 of the (working-size, 8-bit indexed) status image under every
    // mask pixel that is 1, and marks the state saved.
    void savemask(const QImage& statusImage);
    // Whether the saved key differs from the given blending settings' map (true without key).
    bool blendingChanged(const BlendingOptions& options) const;
    // Whether any pixel inside the mask now has other class bits than were saved (true when
    // nothing is saved).
    bool statusChanged(const QImage& statusImage) const;
    // Forgets the cut-out result (snapshot and key); the mask stays.
    void clearSnapshot();
    // Takes the other state's saved values where the two masks overlap, wherever the other's
    // saved value is not 0 and this mask is 1. Sets neither the saved flag nor the key.
    void copySavedFrom(const PixelState& other);

private:
    QPen m_pen;
    QBrush m_brush;
    bool m_styled = false;
    bool m_rasterised = false;
    QImage m_mask;
    QImage m_savedStatus;
    bool m_saved = false;
    QVariant m_key;
    QList<QImage> m_engineMasks;
};
