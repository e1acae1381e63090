#pragma once
// The Color Workspace panel: the colour display with its two axis rulers, the mask buckets that
// give the highlighted pixels a mask, the mode buttons, the Resolution slider, the view (eye)
// buttons and the automatic blend box. It keeps the display in step with the image, its
// statuses and the active patch, passes the selection on to the status array's highlight, and
// shows itself when a patch becomes active or the Color Sampler is chosen.

#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "panels/GmSubWindow.h"

#include "ui_ColourWorkspace.h"

#include <QIcon>
#include <QImage>
#include <QMetaObject>
#include <QPointer>
#include <QStringList>

class AxisWidget;
class CWSMouseEventFilter;
class ColourDisplay;
class ColourWorkspaceSelectTool;
class GmTool;
class QSlider;

class ColourWorkspace : public GmSubWindow, private Ui::ColourWorkspace {
    Q_OBJECT
public:
    ColourWorkspace(QWidget* actionHost, const QString& shortcut, QWidget* parent);
    ~ColourWorkspace() override;

    bool hasDefaultSize() const override { return true; }
    bool restoresVisibility() const override { return false; }
    int usableViewTabs() const override;

    ColourDisplay* colourDisplay() const { return colourDisplay_; }
    AxisWidget* horizontalAxis() const { return horizontalAxis_; }
    AxisWidget* verticalAxis() const { return verticalAxis_; }
    CWSMouseEventFilter* mouseFilter() const { return m_mouseFilter; }
    // The icons an eye button shows when it is off (index 0 Unassigned, 1 Keep, 2 Delete, 3 Blend).
    QIcon viewOffIcon(int index) const { return m_offIcons[index]; }
    QIcon viewOnIcon(int index) const { return m_onIcons[index]; }

    ColourWorkspaceSelectTool* selectTool() const;
    // Connects the sampler's picks to the display and a click in the display to the sampler.
    void setSelectTool(ColourWorkspaceSelectTool* tool);
    // Keeps another slider at the Resolution slider's range and value, both ways.
    void syncResolutionSlider(QSlider* slider);

    // Of the other axis' channel when one axis takes a new one: the other stays when it is of
    // the new channel's family (H/L/S or R/G/B) and differs from it, else it takes the family's
    // default partner.
    static int partnerChannel(int chosen, int other);

public slots:
    void opacityChanged(int value);

private slots:
    void imageChanged(const KsSourceImage* image);
    void statusImageChanged(const QImage* statusImage);
    void regionChanged(GmRegion* region);
    void modeChanged();
    void selectModeChanged();
    void statusesViewedChanged(bool on);
    void updateVisibilitySlot();
    void chooseHorizontalAxis();
    void chooseVerticalAxis();
    void colourBitsChanged(int value);
    void toUnassigned();
    void toKeep();
    void toDrop();
    void toBlend();
    void goTo(quint8 status);
    void updateReassignmentButtons();
    void viewUnassignedChangedSlot(bool on);
    void viewKeepChangedSlot(bool on);
    void viewDropChangedSlot(bool on);
    void viewBlendChangedSlot(bool on);
    void setAutoBlend(bool on);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void makeOffIcons();
    void setWhatsThisTexts();
    void chooseAxis(bool horizontal);
    void connectModel();

    QWidget* m_content;
    QStringList m_channelNames;
    CWSMouseEventFilter* m_mouseFilter = nullptr;
    QPointer<ColourWorkspaceSelectTool> m_selectTool;
    QMetaObject::Connection m_pickConnection;
    QMetaObject::Connection m_clickConnection;
    QIcon m_onIcons[4];
    QIcon m_offIcons[4];
    // The patch last shown and its shape-change count: a guarded pointer, so that a new patch
    // built where a deleted one was is not taken for it.
    QPointer<GmRegion> m_lastRegion;
    bool m_hadRegion = false;
    int m_lastRegionCount = 0;
    // The current tool at the last visibility update.
    QPointer<GmTool> m_lastTool;
    bool m_toolSeen = false;
};
