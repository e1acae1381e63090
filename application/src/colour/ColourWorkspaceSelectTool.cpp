#include "colour/ColourWorkspaceSelectTool.h"

#include "canvas/BitmapCursor.h"
#include "colour/ColourDisplay.h"
#include "colour/ColourWorkspace.h"
#include "document/GmModel.h"
#include "document/Texts.h"
#include "shell/KsApp.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>

namespace {

QString samplerHelp()
{
    return ColourWorkspaceSelectTool::tr(
               "<p>Use the Color Sampler to select colors <b><i>from the image </i></b>(either the whole image or "
               "from a Patch) using the &lsquo;eye-dropper&rsquo; and to see those selections appear highlighted in "
               "the Color Workspace.</p><ul><li>Hold down Shift to add to selections.</li><li>Hold down Alt to "
               "remove from selections</li></ul><p><b><i>Note</i></b>: This slider is the same as the Color "
               "Workspace Resolution slider&mdash;both are synchronized, they move together.</p><p><b><i>Consider:"
               "</i></b> For very fine selections consider moving the <b>Resolution</b> slider in the Tool Options "
               "to &lsquo;Fine&rsquo;.</p>")
           + learnMoreParagraph(KsApp::helpUrl() + QStringLiteral("/4-Kestrine_Tools/Using_the_Color_Workspace.htm"));
}

} // namespace

ColourWorkspaceSelectTool::ColourWorkspaceSelectTool(ColourWorkspace* panel, QActionGroup* actionGroup,
                                                     QWidget* menuWidget, ToolOptions* toolOptions)
    : GmTool(QStringLiteral("Color Sampler"), tr("Color Sampler"), QIcon(QStringLiteral(":images/pipette-box-icon.png")),
             QString(), samplerHelp(), actionGroup, menuWidget, nullptr, toolOptions),
      m_panel(panel),
      m_cursor(makeBitmapCursor(0, 31, QStringLiteral(":images/curs_data_pipette.png"),
                                QStringLiteral(":images/curs_mask_pipette.png")))
{
    setOptionsWidget(buildOptionsWidget());
    if (m_panel)
        m_panel->setSelectTool(this);
}

ColourWorkspaceSelectTool::~ColourWorkspaceSelectTool()
{
    if (m_panel && m_panel->selectTool() == this)
        m_panel->setSelectTool(nullptr);
}

QWidget* ColourWorkspaceSelectTool::buildOptionsWidget()
{
    auto* options = new QWidget;
    auto* layout = new QHBoxLayout(options);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Resolution: ")));
    layout->addWidget(new QLabel(tr("Coarse  ")));
    m_resolutionSlider = new QSlider(Qt::Horizontal);
    m_resolutionSlider->setObjectName(QStringLiteral("samplerResolution"));
    layout->addWidget(m_resolutionSlider);
    layout->addWidget(new QLabel(tr("   Fine")));
    layout->addWidget(new QWidget, 1);
    if (m_panel)
        m_panel->syncResolutionSlider(m_resolutionSlider);
    return options;
}

QCursor ColourWorkspaceSelectTool::cursor() const
{
    return m_cursor ? *m_cursor : QCursor(Qt::CrossCursor);
}

void ColourWorkspaceSelectTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (!event || event->button() != Qt::LeftButton || event->buttons() != Qt::LeftButton)
        return;
    emit colourPicked(GmModel::instance()->colourAt(point), event->modifiers());
}

void ColourWorkspaceSelectTool::escapeKeyPressed()
{
    ColourDisplay* display = m_panel ? m_panel->colourDisplay() : nullptr;
    if (display && !display->isSelectionEmpty())
        display->unHighlight();
    else
        GmTool::escapeKeyPressed();
}

void ColourWorkspaceSelectTool::activate(GmTool* previous)
{
    clearButtonStates();
    m_previousTool = previous;
}

void ColourWorkspaceSelectTool::deactivate(GmTool*)
{
    clearButtonStates();
}
