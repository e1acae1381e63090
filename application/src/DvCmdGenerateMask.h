#pragma once
// Makes the cut-out: the engine writes the mask generated from the statuses into the output
// image's alpha, over the whole image or over a test-render rectangle.

#include "DravikCommand.h"

#include "dravik.h"

#include <QRect>

#include <atomic>

class DvCmdGenerateMask : public DravikCommand {
    Q_OBJECT
public:
    // area: a rectangle in working coordinates (a test render), or an empty one for the whole
    // image.
    explicit DvCmdGenerateMask(GmModel* model, const QRect& area = QRect());

    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }

    // The change counter at which the last whole-image cut-out was made: written on the
    // worker, read on the GUI thread, which regenerates the cut-out when the two differ.
    static int cutoutStamp() { return s_cutoutStamp.load(); }
    static void setCutoutStamp(int stamp) { s_cutoutStamp.store(stamp); }

public slots:
    void refreshOutputTab();

private:
    void clearDecidedBits();

    static std::atomic<int> s_cutoutStamp;

    QRect m_area;
    DvArea m_engineArea{};
    float m_bandFactor = 0.0f;
    float m_level = 0.0f;
    DvSession* m_session = nullptr;
    DvImage* m_image = nullptr;
    DvImageDesc m_cutout{};
    DvImageDesc m_source{};
};
