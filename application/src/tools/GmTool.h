#pragma once
// The base of every interactive tool. A tool has a checkable action in one shared, exclusive
// group; triggering it makes the tool the process's one current tool (the selection
// sequence). The action is enabled exactly while the tool can be used. The canvas hands mouse
// input to the current tool in image coordinates, the main window hands it key input; the
// virtual operations below are that protocol, with the defaults most tools want.
//
// Services of the main window come through process-wide hooks; without them the defaults
// below hold (tests, and before the main window installs its own).

#include "canvas/ImageView.h"
#include "document/ImageCoordinates.h"

#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class ArrowTarget;
class GmAction;
class GmRegion;
class QActionGroup;
class QKeyEvent;
class QMouseEvent;
class QWidget;
class ToolOptions;

class GmTool : public QObject {
    Q_OBJECT
public:
    // Picks a tool when the current one cannot be used; answers whether a tool is current.
    using RevalidateHook = std::function<bool()>;
    // Whether the Space-bar hand stands in for a tool right now.
    using HandHoldsToolHook = std::function<bool()>;
    // Clears the colour workspace's highlighted colours.
    using ClearColourHighlightHook = std::function<void()>;

    // A non-empty shortcut is read as native text. A null group means the shared group, null
    // options the default options strip. The action goes into the menu widget, and into the
    // bar widget when that is a tool bar or a push button.
    // Availability is checked again on every image, patch, segmentation, engine state and tab
    // change (the tab changes of the image view that exists when the tool is built). The
    // constructor checks it once with this base's isAvailable: a tool that answers otherwise
    // calls setEnabledSlot again at the end of its own constructor.
    GmTool(const QString& name, const QString& displayName, const QIcon& icon, const QString& shortcut,
           const QString& helpText, QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
           QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    // The current tool hands over to the fallback tool first; the options widget goes with
    // the tool when it still exists.
    ~GmTool() override;

    // The current tool, or null.
    static GmTool* currentTool();
    // Whether currentTool has ever answered a tool.
    static bool toolHasBeenInstalled();
    // Created on first use, under the main window when there is one.
    static QActionGroup* sharedActionGroup();
    // Created on first use for tools built without an options strip.
    static ToolOptions* defaultToolOptions();

    // The fallback tools: the placeholder that is always available, and the Select tool.
    static GmTool* noTool();
    static GmTool* selectTool();
    static void registerNoTool(GmTool* tool);
    static void registerSelectTool(GmTool* tool);

    static void setRevalidateHook(RevalidateHook hook);
    static void setHandHoldsToolHook(HandHoldsToolHook hook);
    static void setClearColourHighlightHook(ClearColourHighlightHook hook);
    // The hook's choice; by default: the current tool when available, else the Select tool
    // when there is one and it is available, else the placeholder.
    static bool revalidateCurrentTool();

    const QString& name() const { return m_name; }
    const QString& displayName() const { return m_displayName; }
    GmAction* action() const;
    ToolOptions* toolOptions() const;
    QWidget* optionsWidget() const { return m_optionsWidget; }
    void setOptionsWidget(QWidget* widget) { m_optionsWidget = widget; }

    // 0 no left button down, 1 pressed, 2 dragging with it held.
    int buttonState() const { return m_buttonState; }
    int previousButtonState() const { return m_previousButtonState; }

    bool isUsableInCurrentTab() const;
    // The action's What's This: the display name as a bold title paragraph, then the text;
    // empty for an empty text.
    void setHelpText(const QString& helpText);
    // Follows the left button through a mouse event; the canvas calls it before the handlers.
    void trackButtons(const QMouseEvent* event);

    virtual QCursor cursor() const;
    virtual void mousePressed(const ImagePointF& point, QMouseEvent* event);
    virtual void mouseMoved(const ImagePointF& point, QMouseEvent* event);
    virtual void mouseReleased(const ImagePointF& point, QMouseEvent* event);
    virtual void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event);
    // Clears the button states, then the first of: remove the cut-out preview rectangle;
    // deactivate the active patch; with no active forced edge install the Select tool (the
    // placeholder without one); deactivate the active forced edge.
    virtual void escapeKeyPressed();
    virtual void keyEvent(QKeyEvent* event);
    virtual ImageView::ViewTabs usableViewTabs() const;
    virtual ImageView::ViewTab homeViewTab() const;
    virtual bool clearsPreviewOnPress() const;
    virtual bool usesBrush() const;
    virtual QColor outlineColour() const;
    virtual QColor strokeColour() const;
    // By default: the model holds a source image.
    virtual bool isAvailable() const;
    // How the canvas outlines a patch or forced edge while this tool is current (3 normal).
    virtual int arrowTargetDisplayState(ArrowTarget* target) const;
    // The tool a temporary tool stands in for.
    virtual GmTool* underlyingTool() const;
    virtual void activate(GmTool* previous) = 0;
    virtual void deactivate(GmTool* next) = 0;
    virtual bool clearsColourHighlight() const;

signals:
    void userCreatedRegion(GmRegion* region);

public slots:
    void setEnabledSlot();
    // Makes the tool current when it is available; when it is not, the main window picks a
    // tool and the answer is false.
    bool installSlot();
    // The selection sequence; also run when the tool is already current.
    void selectToolSlot();

protected:
    void clearButtonStates();

private:
    int m_buttonState = 0;
    int m_previousButtonState = 0;
    QString m_name;
    QString m_displayName;
    QPointer<GmAction> m_action;
    QPointer<ToolOptions> m_toolOptions;
    QPointer<QWidget> m_optionsWidget;
};
