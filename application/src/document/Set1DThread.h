#pragma once
// Highlights the pixels whose value in one channel is among the selected values (a histogram
// selection of the colour workspace).

#include "document/HighlightThread.h"

#include <vector>

class Set1DThread : public HighlightThread {
    Q_OBJECT
public:
    explicit Set1DThread(QObject* parent = nullptr);

    // Set before start(). Index = channel value 0..255; missing entries are not selected.
    void setSelection(const std::vector<bool>& selection) { m_selection = selection; }
    const std::vector<bool>& selection() const { return m_selection; }
    // A channel outside Hue..Blue marks nothing.
    void setChannel(Ht::colour::channel channel) { m_channel = channel; }
    Ht::colour::channel channel() const { return m_channel; }

protected:
    void run() override;

private:
    std::vector<bool> m_selection = std::vector<bool>(256, false);
    Ht::colour::channel m_channel = Ht::colour::Hue;
};
