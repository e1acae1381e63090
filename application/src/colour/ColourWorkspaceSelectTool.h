#pragma once
// The Color Sampler: a click in the image picks the colour under the pointer and hands it to
// the colour workspace's display, which selects that colour's bin (Shift adds, Alt removes).
// Its options strip carries a Resolution slider that moves with the panel's.

#include "tools/GmTool.h"

#include <QPointer>

#include <memory>

class ColourWorkspace;
class QSlider;

class ColourWorkspaceSelectTool : public GmTool {
    Q_OBJECT
public:
    // The panel is required; the tool registers itself with it.
    ColourWorkspaceSelectTool(ColourWorkspace* panel, QActionGroup* actionGroup = nullptr,
                              QWidget* menuWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~ColourWorkspaceSelectTool() override;

    // The tool that was current before this one, for the panel to give back when it hides.
    GmTool* previousTool() const { return m_previousTool; }
    QSlider* resolutionSlider() const { return m_resolutionSlider; }

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    // Clears the display's selection first; with nothing selected, the common Escape.
    void escapeKeyPressed() override;
    void activate(GmTool* previous) override;
    void deactivate(GmTool* next) override;

signals:
    void colourPicked(const QColor& colour, Qt::KeyboardModifiers modifiers);

private:
    QWidget* buildOptionsWidget();

    QPointer<ColourWorkspace> m_panel;
    QPointer<GmTool> m_previousTool;
    std::unique_ptr<QCursor> m_cursor;
    QSlider* m_resolutionSlider = nullptr;
};
