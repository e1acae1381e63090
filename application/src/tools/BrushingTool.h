#pragma once
// The base of the tools that paint a stroke over the canvas (the mask brushes and the brushed
// patch tool): brush size, strength, the options bar they share, the size shortcuts and pen
// pressure. The stroke itself lives in a GmBrushing from press to release or Escape.
//
// Brush size is in working pixels. Size and strength are shared by every brushing tool: one
// options bar holds them, built by the first brushing tool and kept until the last one is
// destroyed; each tool adds its own page to the bar's page stack.

#include "tools/GmTool.h"

#include <QPointer>

class GmBrushing;
class KsSourceImage;
class ParameterStack;
class QSlider;
class QSpinBox;
class QStackedWidget;

class BrushingTool : public GmTool {
    Q_OBJECT
public:
    static constexpr int minimumSize = 1;
    static constexpr int maximumSize = 400;
    // Without the options bar.
    static constexpr int fallbackSize = 10;

    BrushingTool(const QString& name, const QString& displayName, const QIcon& icon, const QString& shortcut,
                 const QString& helpText, QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                 QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    // The tool's page goes; the shared bar goes with the last brushing tool.
    ~BrushingTool() override;

    // The size a dab has now: the spin box's, scaled by the pen's pressure while a pen stroke
    // reports one (at least 1); fallbackSize without the bar.
    static int brushSize();
    // Sets the spin box (clamped to 1..400; the slider follows) and has the canvas refresh the
    // brush outline.
    static void setBrushSize(int size);
    // A new image: the brush size fitted to the smaller side of its working image (at the
    // model's divisor), the clean tool's strength to the image's smaller side.
    static void fitToolsToImage(const KsSourceImage* image);
    // The size slider's position for a size, and the size for a position.
    static int sliderForSize(int size);
    static int sizeForSlider(int value);
    // The shared "Strength" (0 without the bar).
    static int strength();
    // Whether the user holds the size slider (the canvas then shows the outline at the view's
    // centre).
    static bool sizeSliderDown();
    // The shared widgets; null while they do not exist.
    static QWidget* sharedBar();
    static QSpinBox* sizeSpinBox();
    static QSlider* sizeSlider();
    static ParameterStack* strengthStack();
    static QStackedWidget* pageStack();
    // The stroke in progress, if any.
    GmBrushing* brushing() const { return m_brushing; }

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseReleased(const ImagePointF& point, QMouseEvent* event) override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    // Abandons a stroke in progress; without one, the default handling.
    void escapeKeyPressed() override;
    ImageView::ViewTabs usableViewTabs() const override;
    ImageView::ViewTab homeViewTab() const override;
    bool usesBrush() const override;
    void activate(GmTool* previous) override;
    // A stroke in progress is abandoned as by Escape.
    void deactivate(GmTool* next) override;

    // This tool's page of the shared bar.
    virtual QWidget* createOptionsPage() = 0;
    // Gets the stroke object ready before a stroke starts at the point.
    virtual void beginStroke(const ImagePointF& point) = 0;
    // Hands the finished stroke on; the tool holds no stroke afterwards.
    virtual void finishStroke() = 0;
    // Whether the shared "Strength" row is enabled while this tool is current.
    virtual bool usesStrength() const;

signals:
    void brushSizeSliderMoved();

public slots:
    void increaseBrushSizeSlot();
    void decreaseBrushSizeSlot();
    // Moves the slider to the size without a signal.
    void syncBrushSizeToSlider(int size);
    // Sets the size from the slider without a signal, then announces the move.
    void syncBrushSizeFromSlider(int value);
    void strengthChangedSlot(int value);

protected:
    // Builds the shared bar once, adds this tool's page and makes the bar this tool's options
    // widget. Every concrete tool calls it at the end of its constructor.
    QWidget* sharedOptionsWidget();
    void setBrushing(GmBrushing* brushing) { m_brushing = brushing; }
    // Deletes the stroke object (which repaints its area).
    void deleteBrushing();

private:
    void abandonStroke();

    GmBrushing* m_brushing = nullptr;
    QString m_sizeLabel;
    QString m_strengthLabel;
    QPointer<QWidget> m_page;
    int m_pageIndex = -1;
    bool m_straightSegment = false;
};
