#pragma once
// Starts the engine library for an image; the model keeps the handle until DvCmdFinish.

#include "engine/DravikCommand.h"

struct DvLibrary;

class DvCmdInit : public DravikCommand {
    Q_OBJECT
public:
    explicit DvCmdInit(GmModel* model);

    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    DvLibrary* m_library = nullptr;
};
