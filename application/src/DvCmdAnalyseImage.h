#pragma once
// Finds the edges of the image with the applied edge-detection options: the segmentation that
// Local and Global brushes, cleaning, auto-fill and the cut-out work from.

#include "DravikCommand.h"

#include "dravik.h"

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
    QPointer<SegmentationStuff> m_record;
    DvEdgeOptions m_options{};
    DvSession* m_session = nullptr;
};
