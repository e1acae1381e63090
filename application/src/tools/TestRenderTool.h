#pragma once
// The Preview Cut-out tool: the cut-out of a dragged rectangle, or of one patch's area, is
// rendered by the engine and shown in place of the mask. The rectangle is the model's
// test-render rectangle. The last tool built serves the patches' preview requests.

#include "tools/RectangleTool.h"

class GmRegion;
class QRectF;

class TestRenderTool : public RectangleTool {
    Q_OBJECT
public:
    explicit TestRenderTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~TestRenderTool() override;

    // The registered tool; null while there is none.
    static TestRenderTool* instance();

    // Frames the patch's bounds with the test-render rectangle and submits the patch's cut-out.
    void testRenderPatch(GmRegion* patch);

    QCursor cursor() const override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    // Removes the preview rectangle; without one, the default handling.
    void escapeKeyPressed() override;
    // An analysis finished or pending, and Keep or Delete pixels present.
    bool isAvailable() const override;
    void activate(GmTool* previous) override;
    // The preview rectangle goes.
    void deactivate(GmTool* next) override;

protected:
    void beginRect(const ImagePointF& point) override;
    // Renders a dragged rectangle; a click without a move renders nothing.
    void finishRect(const ImagePointF& point) override;
    ks::Rectangle* currentRect() const override;

private:
    void render(const QRectF& imageRect);
};
