#pragma once
// Applies again the last undone step of the image session's statuses.

#include "engine/DravikCommand.h"

struct DvSession;

class DvCmdRedo : public DravikCommand {
    Q_OBJECT
public:
    explicit DvCmdRedo(GmModel* model);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }
    bool refreshesUndoRedo() const override { return true; }

private:
    DvSession* m_session = nullptr;
};
