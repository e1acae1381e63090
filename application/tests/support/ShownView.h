#pragma once
// An image view shown for input with its workspace's viewport at an exact size, and a recorder
// of the areas a widget repaints.

#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"

#include "Wait.h"
#include "WidgetInput.h"

#include <QEvent>
#include <QList>
#include <QPaintEvent>
#include <QRegion>
#include <QTest>

namespace testsupport {

// Shows the view and resizes it until its viewport has the size; false when it never does.
inline bool showWithViewport(ImageView& view, QSize viewport)
{
    view.resize(viewport + QSize(80, 80));
    if (!showForInput(&view))
        return false;
    const QSize extra = view.size() - view.workspace()->viewport()->size();
    view.resize(viewport + extra);
    return waitUntil([&] { return view.workspace()->viewport()->size() == viewport; }, 5000);
}

// Lets every pending repaint and layout request run.
inline void settle()
{
    QTest::qWait(30);
    QCoreApplication::processEvents();
}

class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }

    QRegion painted() const
    {
        QRegion all;
        for (const QRegion& r : m_regions)
            all += r;
        return all;
    }
    int count() const { return m_regions.size(); }
    void clear() { m_regions.clear(); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            m_regions.append(static_cast<QPaintEvent*>(event)->region());
        return false;
    }

private:
    QList<QRegion> m_regions;
};

} // namespace testsupport
