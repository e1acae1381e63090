#pragma once
// Picks one colour from the working image for the panel that built it, then hands control
// back to the tool that was current before. Choosing a pipette from a pipette returns to the
// tool before the first one.

#include "tools/GmTool.h"

#include <QPointer>

#include <memory>

class PipetteTool : public GmTool {
    Q_OBJECT
public:
    explicit PipetteTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                         QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~PipetteTool() override;

    // The tool the pick returns to; null when there is none.
    GmTool* previousTool() const { return m_previous; }

    QCursor cursor() const override;
    // A left press picks the colour under the point and returns to the previous tool.
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseReleased(const ImagePointF& point, QMouseEvent* event) override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    // Returns to the previous tool, or lets the main window choose when that one cannot be used.
    void escapeKeyPressed() override;
    void activate(GmTool* previous) override;
    void deactivate(GmTool* next) override;

signals:
    void pipetteToolColourSelected(const QColor& colour);
    void pipetteToolSelected(bool selected);

private:
    QPointer<GmTool> m_previous;
    std::unique_ptr<QCursor> m_cursor;
};
