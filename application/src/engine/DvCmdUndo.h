#pragma once
// Takes back the last undo step of the image session's statuses.

#include "engine/DravikCommand.h"

struct DvSession;

class DvCmdUndo : public DravikCommand {
    Q_OBJECT
public:
    explicit DvCmdUndo(GmModel* model);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }
    bool refreshesUndoRedo() const override { return true; }

private:
    DvSession* m_session = nullptr;
};
