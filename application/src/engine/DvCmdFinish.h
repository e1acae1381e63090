#pragma once
// Shuts the engine library of the closed image down.

#include "engine/DravikCommand.h"

struct DvLibrary;

class DvCmdFinish : public DravikCommand {
    Q_OBJECT
public:
    explicit DvCmdFinish(GmModel* model);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    DvLibrary* m_library = nullptr;
};
