#pragma once
// Begins a patch's engine sub-session inside the image session, over the patch's filled mask.
// Without an analysis of its own (flag 0) the sub-session borrows the image's; its outline is
// the patch's border. A sub-session the engine refuses deletes the patch.

#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QImage>
#include <QPointer>

class GmRegion;

class DvCmdBeginSubSession : public DravikCommand {
    Q_OBJECT
public:
    // flag 1: the sub-session has an analysis of its own and becomes the patch's analysis
    // session; 0: it becomes the patch's session.
    DvCmdBeginSubSession(GmModel* model, GmRegion* patch, int flag);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    QPointer<GmRegion> m_patch;
    int m_flag;
    DvSession* m_parent = nullptr;
    QImage m_mask;  // the bytes the sub-session reads, held at least while it is begun
    DvSelection m_selection{};
    DvSession* m_handle = nullptr;
    // prepare found no image session: the patch stays for the next session.
    bool m_withoutSession = false;
};
