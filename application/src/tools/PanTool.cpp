#include "tools/PanTool.h"

#include "canvas/BitmapCursor.h"
#include "document/GmModel.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "panels/EmptyOptionsWidget.h"

#include <QGuiApplication>
#include <QMouseEvent>

namespace {

std::unique_ptr<QCursor> loadCursor(int hotX, int hotY, const char* data, const char* mask, Qt::CursorShape fallback)
{
    std::unique_ptr<QCursor> cursor =
        makeBitmapCursor(hotX, hotY, QString::fromLatin1(data), QString::fromLatin1(mask));
    return cursor ? std::move(cursor) : std::make_unique<QCursor>(fallback);
}

} // namespace

PanTool::PanTool(QActionGroup* actionGroup, QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : GmTool(QStringLiteral("Hand Tool"), tr("Hand Tool"), QIcon(QStringLiteral(":images/tool_image_pan.png")),
             QStringLiteral("H"), QString(), actionGroup, menuWidget, barWidget, toolOptions),
      m_openHand(loadCursor(7, 7, ":images/curs_data_handopen.png", ":images/curs_mask_handopen.png",
                            Qt::OpenHandCursor)),
      m_grabHand(loadCursor(8, 9, ":images/curs_data_handgrab.png", ":images/curs_mask_handgrab.png",
                            Qt::ClosedHandCursor)),
      m_current(m_openHand.get())
{
    setHelpText(tr("<p>Use to drag and pan an image.</p><p>Press and hold the &lsquo;space bar&rsquo; on the "
                   "keyboard at any time when working on the image to temporarily switch to the <b>%1</b>; "
                   "letting go of the space bar returns you to the tool you were using. Click and drag to pan "
                   "image.</p>")
                    .arg(displayName())
                + learnMoreParagraph(Browser::helpRoot()
                                     + QStringLiteral("/4-Kestrine_Tools/About_Kestrine_Tools.htm")));
    setOptionsWidget(createEmptyOptionsWidget());
}

PanTool::~PanTool()
{
    // The empty page is shared with other tools: the base must not take it along.
    setOptionsWidget(nullptr);
}

QCursor PanTool::cursor() const
{
    return *m_current;
}

void PanTool::showCursor(const QCursor* cursor)
{
    m_current = cursor;
    emit GmModel::instance()->cursorChanged(m_current);
}

void PanTool::mousePressed(const ImagePointF&, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_lastGlobalPos = event->globalPos();
    showCursor(m_grabHand.get());
}

void PanTool::mouseMoved(const ImagePointF&, QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint global = event->globalPos();
    emit tellPan(m_lastGlobalPos - global);
    m_lastGlobalPos = global;
}

void PanTool::mouseReleased(const ImagePointF&, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint global = event->globalPos();
    emit tellPan(m_lastGlobalPos - global);
    m_lastGlobalPos = global;
    showCursor(m_openHand.get());
}

void PanTool::mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event)
{
    mousePressed(point, event);
}

ImageView::ViewTabs PanTool::usableViewTabs() const
{
    return ImageView::Source | ImageView::Workspace | ImageView::CutOut;
}

ImageView::ViewTab PanTool::homeViewTab() const
{
    return ImageView::Workspace;
}

bool PanTool::clearsPreviewOnPress() const
{
    return false;
}

bool PanTool::usesBrush() const
{
    return false;
}

bool PanTool::clearsColourHighlight() const
{
    return false;
}

int PanTool::arrowTargetDisplayState(ArrowTarget* target) const
{
    return m_underlying ? m_underlying->arrowTargetDisplayState(target) : GmTool::arrowTargetDisplayState(target);
}

GmTool* PanTool::underlyingTool() const
{
    return m_underlying;
}

void PanTool::activate(GmTool* previous)
{
    GmTool* stood = previous && previous->underlyingTool() ? previous->underlyingTool() : previous;
    // Picked again while current, or from a tool that stood in for this one: standing in for
    // itself would send every forwarded question round in a circle.
    if (stood != this)
        m_underlying = stood;
    else if (previous != this)
        m_underlying = nullptr;
    if (QGuiApplication::mouseButtons() & Qt::LeftButton)
        m_lastGlobalPos = QCursor::pos();
    clearButtonStates();
}

void PanTool::deactivate(GmTool*)
{
    clearButtonStates();
    m_current = m_openHand.get();
}
