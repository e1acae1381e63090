#pragma once
// Highlights the pixels whose values in two channels form a selected pair (a colour-map
// selection of the colour workspace).

#include "document/HighlightThread.h"

class Set2DThread : public HighlightThread {
    Q_OBJECT
public:
    explicit Set2DThread(QObject* parent = nullptr);

    // Set before start(). 256 x 256, x = horizontal value, y = vertical value, a non-zero index
    // selects the pair; Format_Mono, Format_MonoLSB or Format_Indexed8.
    void setSelection(const QImage& selection) { m_selection = selection; }
    const QImage& selection() const { return m_selection; }
    // Two different channels of one family (HSL or RGB); any other pair marks nothing.
    void setChannels(Ht::colour::channel horizontal, Ht::colour::channel vertical)
    {
        m_horizontal = horizontal;
        m_vertical = vertical;
    }
    Ht::colour::channel horizontalChannel() const { return m_horizontal; }
    Ht::colour::channel verticalChannel() const { return m_vertical; }

protected:
    void run() override;

private:
    QImage m_selection;
    Ht::colour::channel m_horizontal = Ht::colour::Hue;
    Ht::colour::channel m_vertical = Ht::colour::Lightness;
};
