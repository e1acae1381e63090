#pragma once
// Feeds the colour map renderer from the document model: the source's working image, the
// status array's snapshot (never the engine's own bytes, which a running command may be
// writing) and the active patch's mask, all at the working resolution. GUI thread only.

#include "colour/ColourMapRenderer.h"

#include <QImage>

class ColourMapModelSource {
public:
    // Takes the model's images as they are now (missing ones stay null) and points the
    // renderer's inputs at them; they stay valid until the next call or release().
    ColourMapRenderer::Inputs inputs();
    // Lets go of the images taken, so that a closed image or an old snapshot is not kept.
    void release();

private:
    QImage m_working;
    QImage m_status;
    QImage m_patchMask;
};
