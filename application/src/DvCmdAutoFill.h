#pragma once
// Fills the unassigned part of the mask from the analysis: with Keep, with Delete, or each
// region with the class that borders it most (fill value 0).

#include "DravikCommand.h"

#include "dravik.h"

class DvCmdAutoFill : public DravikCommand {
    Q_OBJECT
public:
    // fillValue: 0, 2 (Keep) or 4 (Delete).
    DvCmdAutoFill(GmModel* model, int fillValue);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }

private:
    unsigned char m_fillValue;
    float m_bandFactor = 0.0f;
    DvSession* m_session = nullptr;
    DvImage* m_image = nullptr;
};
