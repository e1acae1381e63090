#pragma once
// Ends engine sessions: those of a segmentation record, those of a deleted patch (which it then
// deletes), or two given handles together with the images of a closed document, which it
// deletes once the engine no longer reads them.

#include "engine/DravikCommand.h"

#include <QPointer>

#include <memory>

class GmRegion;
class KsSourceImage;
class PixelState;
class SegmentationStuff;
class Shape;
struct DvSession;

class DvCmdEndSession : public DravikCommand {
    Q_OBJECT
public:
    // Ends the record's sessions, taken out of it at prepare. holder (may be null) hands over
    // the pixel state whose mask the sub-session reads until it ends.
    DvCmdEndSession(GmModel* model, SegmentationStuff* record, Shape* holder);
    // Ends the sessions of a patch the model has let go of, and owns the patch: its mask lives
    // until the sessions over it have ended.
    DvCmdEndSession(GmModel* model, GmRegion* patch);
    // Ends the two handles (either may be null, or both the same) and owns the images.
    DvCmdEndSession(GmModel* model, DvSession* session, DvSession* analysisSession,
                    KsSourceImage* oldSource, KsSourceImage* oldOutput);
    ~DvCmdEndSession() override;

    // The image's session closes: the undo and redo counts go back to 0 when it has ended.
    void setResetsUndoCounts(bool resets) { m_resetsUndoCounts = resets; }
    // With no handles given, the record's sessions are taken at prepare instead: a session
    // still being begun when the document closed is ended as well.
    void setLateRecord(SegmentationStuff* record) { m_record = record; }

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    QPointer<SegmentationStuff> m_record;
    DvSession* m_session = nullptr;
    DvSession* m_analysisSession = nullptr;
    bool m_handlesGiven = false;
    bool m_resetsUndoCounts = false;
    std::unique_ptr<KsSourceImage> m_oldSource;
    std::unique_ptr<KsSourceImage> m_oldOutput;
    std::unique_ptr<PixelState> m_pixelState;
    std::unique_ptr<GmRegion> m_patch;
};
