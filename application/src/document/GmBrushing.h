#pragma once
// The object under which the document model lists a brush stroke while it exists.

#include <QObject>

class Brushing;

class GmBrushing : public QObject {
    Q_OBJECT
public:
    // Takes the stroke and joins the model's brushing list.
    explicit GmBrushing(Brushing* brushing, QObject* parent = nullptr);
    // Leaves the model's list, then deletes the stroke (which repaints its area).
    ~GmBrushing() override;

    Brushing* brushing() const { return m_brushing; }

private:
    Brushing* m_brushing;
};
