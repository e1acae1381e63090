#pragma once
// Fills the unassigned part of the mask from the analysis: with Keep, with Delete, or each
// region with the class that borders it most (fill value 0). Over the whole image, or inside a
// patch in the patch's sub-session, as one step of the image's undo stack.

#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QPointer>

class GmRegion;

class DvCmdAutoFill : public DravikCommand {
    Q_OBJECT
public:
    // fillValue: 0, 2 (Keep) or 4 (Delete).
    DvCmdAutoFill(GmModel* model, int fillValue);
    // Inside the patch (the whole image when it is null).
    DvCmdAutoFill(GmModel* model, GmRegion* patch, int fillValue);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }

private:
    QPointer<GmRegion> m_patch;
    bool m_inPatch = false;
    unsigned char m_fillValue;
    float m_bandFactor = 0.0f;
    DvSession* m_session = nullptr;
    DvSession* m_patchSession = nullptr;
    DvImage* m_image = nullptr;
};
