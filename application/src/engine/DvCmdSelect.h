#pragma once
// Changes statuses over a shape: a brush stroke (with the reach of a Local or Global brush and,
// for Keep against Delete, the engine's automatic completion), a patch's filled mask, a forced
// edge's line, or the whole image when one class is cleared everywhere. Inside a patch the
// change runs in the patch's sub-session and is recorded in the image's undo step.

#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QImage>
#include <QPointer>

class Brushing;
class ForcedEdge;
class GmRegion;

class DvCmdSelect : public DravikCommand {
    Q_OBJECT
public:
    // The whole image: pixels that have any bit of matchMask set become newValue.
    DvCmdSelect(GmModel* model, quint8 matchMask, quint8 newValue);
    // The same over a patch's filled mask (the whole image when patch is null).
    DvCmdSelect(GmModel* model, GmRegion* patch, quint8 matchMask, quint8 newValue);
    // A brush stroke (its mask is copied at once, so the tool may clear the stroke): pixels
    // under the stroke that have any bit of overwriteMask set become kind. option is the reach
    // (0 Exact, 1 Local, 2 Global); mode 0 lets a Keep stroke with Delete present (or the
    // reverse) complete the mask automatically. The patch active now is the one the stroke
    // works in.
    DvCmdSelect(GmModel* model, Brushing* stroke, quint8 overwriteMask, quint8 kind, int option,
                int mode);
    // Lays the forced-edge bit along the edge's line.
    DvCmdSelect(GmModel* model, ForcedEdge* edge);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }

private:
    enum Form { WholeImage, PatchMask, BrushStroke, ForcedEdgeLine };

    Form m_form;
    QPointer<GmRegion> m_patch;     // the patch given, or the one active when the stroke was made
    bool m_inPatch = false;         // whether there was such a patch
    QPointer<ForcedEdge> m_edge;
    QImage m_strokeMask;  // the shape's bytes as the engine reads them, held while it runs
    DvSelection m_stroke{};
    quint8 m_matchMask;
    quint8 m_newValue;
    int m_option = 0;
    int m_mode = 0;
    float m_strength;
    float m_bandFactor = -1.0f;
    quint8 m_statusesPresent = 0;
    DvSession* m_session = nullptr;       // the session the selection runs in
    DvSession* m_patchSession = nullptr;  // set when that is a patch's sub-session
    DvSession* m_imageSession = nullptr;
    DvImage* m_image = nullptr;
};
