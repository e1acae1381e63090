#pragma once
// Creates the engine's status image for the working image and hands it to the model.

#include "engine/DravikCommand.h"

#include "dravik.h"

class DvCmdNewStatusImage : public DravikCommand {
    Q_OBJECT
public:
    explicit DvCmdNewStatusImage(GmModel* model);

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    DvLibrary* m_library = nullptr;
    DvImageDesc m_pixels{};
    DvImage* m_image = nullptr;
};
