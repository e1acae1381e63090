#pragma once
// Begins the engine session on the working image and hands the engine's suggested
// edge-detection values to the model.

#include "document/GmModel.h"
#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QPointer>

class SegmentationStuff;

class DvCmdBeginSession : public DravikCommand {
    Q_OBJECT
public:
    // Takes the flag the model's openSession was called with.
    explicit DvCmdBeginSession(GmModel* model);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool isCancellable() const override { return false; }

private:
    int m_flag;
    DvLibrary* m_library = nullptr;
    DvImageDesc m_pixels{};
    QPointer<SegmentationStuff> m_record;
    bool m_recordGiven = false;
    DvSession* m_session = nullptr;
    // Starts at the defaults, so that a session that failed suggests nothing unset.
    GmModel::SessionSuggestion m_suggestion;
};
