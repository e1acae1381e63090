#pragma once
// Protects a patch: the engine sets the protection bit on every pixel of the patch's filled
// mask, which later selections then leave alone. Not undoable.

#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QImage>
#include <QPointer>

class GmRegion;

class DvCmdProtect : public DravikCommand {
    Q_OBJECT
public:
    DvCmdProtect(GmModel* model, GmRegion* patch);

    bool prepare() override;
    void execute() override;
    void finish() override;

private:
    QPointer<GmRegion> m_patch;
    QImage m_mask;
    DvSelection m_outline{};
    DvSession* m_session = nullptr;
    DvImage* m_image = nullptr;
};
