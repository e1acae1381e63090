#pragma once
// Cleans small islands out of the mask: for each class asked for (Unassigned, Keep, Delete,
// Blend) the class is selected over the whole image and despeckled, all as one undo step.

#include "engine/DravikCommand.h"

#include "dravik.h"

class DvCmdDespeckleSelection : public DravikCommand {
    Q_OBJECT
public:
    // classes: a combination of 1, 2, 4 and 8; 0 despeckles the selection as it stands.
    DvCmdDespeckleSelection(GmModel* model, int classes);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }
    int classes() const { return m_classes; }

private:
    int m_classes;
    unsigned char m_level;
    DvSession* m_session = nullptr;
    DvImage* m_image = nullptr;
};
