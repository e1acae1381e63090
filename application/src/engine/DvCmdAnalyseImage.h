#pragma once
// Finds the edges of the image, or of a patch analysed on its own, with the applied
// edge-detection options: the segmentation that Local and Global brushes, cleaning, auto-fill
// and the cut-out work from. A patch's first analysis begins the sub-session it runs in.

#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QImage>
#include <QPointer>

class GmRegion;
class SegmentationStuff;

class DvCmdAnalyseImage : public DravikCommand {
    Q_OBJECT
public:
    // The options travel with the command as they are applied now.
    DvCmdAnalyseImage(GmModel* model, GmRegion* patch, SegmentationStuff* record);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool countsAsChange() const override { return false; }

signals:
    void commandChanged();

private:
    QPointer<GmRegion> m_patch;
    bool m_forPatch = false;
    QPointer<SegmentationStuff> m_record;
    DvEdgeOptions m_options{};
    DvSession* m_session = nullptr;
    // For a patch without an analysis session yet: the image session and the patch's mask.
    DvSession* m_parent = nullptr;
    QImage m_mask;
    DvSelection m_selection{};
    DvSession* m_created = nullptr;
    // The record's outline was cleared for the analysis about to run.
    bool m_outlineCleared = false;
};
