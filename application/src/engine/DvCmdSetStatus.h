#pragma once
// Writes a whole status image (a project's, or the colour workspace's class assignments) into
// the engine's status image as one undo step.

#include "engine/DravikCommand.h"

#include <QImage>

struct DvImage;
struct DvSession;

class DvCmdSetStatus : public DravikCommand {
    Q_OBJECT
public:
    // status: 8-bit indexed, index = status byte, of the working size.
    DvCmdSetStatus(GmModel* model, QImage status);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }
    bool countsAsChange() const override { return false; }
    bool refreshesUndoRedo() const override { return true; }

private:
    QImage m_status;
    DvSession* m_session = nullptr;
    DvImage* m_image = nullptr;
};
