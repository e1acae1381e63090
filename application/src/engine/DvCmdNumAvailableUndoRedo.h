#pragma once
// Reads the image session's undo and redo counts into the model. Run synchronously by the
// engine worker's owner after a command that changes the undo stack; never queued.

#include "engine/DravikCommand.h"

struct DvSession;

class DvCmdNumAvailableUndoRedo : public DravikCommand {
    Q_OBJECT
public:
    explicit DvCmdNumAvailableUndoRedo(GmModel* model);

    bool prepare() override;
    void execute() override;
    void finish() override;

    int undoCount() const { return m_undo; }
    int redoCount() const { return m_redo; }

private:
    DvSession* m_session = nullptr;
    int m_undo = 0;
    int m_redo = 0;
};
