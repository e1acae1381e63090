#pragma once
// Fills small holes in a mask: a click on a mask class has the engine despeckle that class,
// islands up to the tool's Strength in size. The tool only reads the class under the click;
// the despeckle command reads the Strength when it is built.

#include "tools/GmTool.h"

class ParameterStack;

class CleanTool : public GmTool {
    Q_OBJECT
public:
    explicit CleanTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                       QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);

    // The Strength row's value when the options page exists, else the process-wide despeckle
    // level (clamped to 1..20).
    static void setStrength(int strength);
    // The options page's stack; null while there is none.
    static ParameterStack* strengthStack();

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    ImageView::ViewTabs usableViewTabs() const override;
    ImageView::ViewTab homeViewTab() const override;
    void activate(GmTool* previous) override;
    void deactivate(GmTool* next) override;

private:
    QString m_strengthLabel;
};
