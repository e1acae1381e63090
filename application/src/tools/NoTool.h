#pragma once
// The placeholder tool, current when no real tool is: always available, usable in every tab,
// it handles no mouse input. The one built registers itself as the fallback tool.

#include "tools/GmTool.h"

class NoTool : public GmTool {
    Q_OBJECT
public:
    explicit NoTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                    ToolOptions* toolOptions = nullptr);

    QCursor cursor() const override;
    ImageView::ViewTabs usableViewTabs() const override;
    bool isAvailable() const override;
    void activate(GmTool* previous) override;
    void deactivate(GmTool* next) override;
};
