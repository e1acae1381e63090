#pragma once
// Changes statuses over a shape: a brush stroke (with the reach of a Local or Global brush and,
// for Keep against Delete, the engine's automatic completion), or the whole image when one
// class is cleared everywhere.

#include "DravikCommand.h"

#include "dravik.h"

#include <QImage>

class Brushing;

class DvCmdSelect : public DravikCommand {
    Q_OBJECT
public:
    // The whole image: pixels that have any bit of matchMask set become newValue.
    DvCmdSelect(GmModel* model, quint8 matchMask, quint8 newValue);
    // A brush stroke (its mask is copied at once, so the tool may clear the stroke): pixels under the stroke that have any bit of overwriteMask set become
    // kind. option is the reach (0 Exact, 1 Local, 2 Global); mode 0 lets a Keep stroke with
    // Delete present (or the reverse) complete the mask automatically.
    DvCmdSelect(GmModel* model, Brushing* stroke, quint8 overwriteMask, quint8 kind, int option,
                int mode);

    QString argumentText() const override;
    bool prepare() override;
    void execute() override;
    void finish() override;
    bool refreshesUndoRedo() const override { return true; }

private:
    bool m_brushing = false;
    QImage m_strokeMask;  // the stroke's bytes as the engine reads them, held while it runs
    DvSelection m_stroke{};
    quint8 m_matchMask;
    quint8 m_newValue;
    int m_option = 0;
    int m_mode = 0;
    float m_strength;
    float m_bandFactor = -1.0f;
    quint8 m_statusesPresent = 0;
    DvSession* m_session = nullptr;
    DvSession* m_imageSession = nullptr;
    DvImage* m_image = nullptr;
};
