#pragma once
// Takes the engine's status image away from the status array when a session closes. The
// record itself stays on the engine library until that is finished.

#include "engine/DravikCommand.h"

struct DvImage;

class DvCmdDeleteStatusImage : public DravikCommand {
    Q_OBJECT
public:
    // Detaches the status array at once, so that nothing reads the record from now on.
    explicit DvCmdDeleteStatusImage(GmModel* model);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    void detach();

    DvImage* m_image = nullptr;
};
