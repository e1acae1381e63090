#pragma once
// The thin label strip beside the colour display that names the channel along one axis. A
// vertical strip reads from bottom to top; in histogram mode it names the stacking channel as
// "Frequency (...)", since the bars there are counts.

#include <QSize>
#include <QStringList>
#include <QWidget>

class AxisWidget : public QWidget {
    Q_OBJECT
public:
    explicit AxisWidget(QWidget* parent = nullptr);

    Qt::Orientation orientation() const { return m_orientation; }
    // The owner resets the cached size hint after changing the orientation or the labels.
    void setOrientation(Qt::Orientation orientation) { m_orientation = orientation; }
    int channel() const { return m_channel; }
    void setChannel(int channel) { m_channel = channel; }
    const QStringList& labels() const { return m_labels; }
    // The texts the strip may show; the size hint fits the largest.
    void setLabels(const QStringList& labels) { m_labels = labels; }
    // Makes the next sizeHint measure the labels again.
    void resetCachedHint();

    // The channel's name, with the histogram prefix on a vertical strip; empty for a value
    // that names no channel.
    QString labelText() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool inHistogramPanel() const;

    Qt::Orientation m_orientation = Qt::Horizontal;
    int m_channel = 0;
    QStringList m_labels;
    mutable QSize m_cachedHint{-1, -1};
};
