#include "engine/DvCmdGenerateMask.h"

#include "document/BlendingStuff.h"
#include "document/ForcedEdge.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/PixelState.h"
#include "document/Prompt.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "engine/DravikThread.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

constexpr unsigned char kDecided = 64;
constexpr quint8 kKeepOrDelete = 2 | 4;

void putColour(unsigned char (&to)[3], const GmColor* colour, bool on)
{
    const QColor c = on && colour ? colour->color() : QColor(0, 0, 0);
    to[0] = static_cast<unsigned char>(c.red());
    to[1] = static_cast<unsigned char>(c.green());
    to[2] = static_cast<unsigned char>(c.blue());
}

} // namespace

std::atomic<int> DvCmdGenerateMask::s_cutoutStamp{0};

DvCmdGenerateMask::DvCmdGenerateMask(GmModel* model, const QRect& area)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Creating Cut-out...")),
      m_area(area)
{
    if (model) {
        const BlendingOptions& options = model->blending()->options();
        m_bandFactor = options.autoBlendWidth;
        m_level = options.blendRatio;
    }
}

DvCmdGenerateMask::DvCmdGenerateMask(GmModel* model, GmRegion* patch)
    : DvCmdGenerateMask(model, QRect())
{
    m_patch = patch;
    m_forPatch = true;
}

GmRegion* DvCmdGenerateMask::patch() const
{
    return m_patch;
}

bool DvCmdGenerateMask::prepare()
{
    if (!model() || (m_forPatch && !m_patch))
        return false;
    const SegmentationStuff* record = model()->segmentation();
    const DvSession* analysis = record->analysisSession();
    const bool analysed = analysis && (analysis->analysed || record->hasPendingAnalysis());
    if (!analysed || !(model()->statusArray()->statusesPresent() & kKeepOrDelete))
        return false;
    m_session = record->session();
    m_image = model()->statusArray()->engineStatusImage();
    KsSourceImage* source = model()->source();
    KsSourceImage* output = model()->output();
    if (!m_session || !m_image || !source || !output)
        return false;
    m_source = source->fullResolutionPixels();
    m_cutout = output->fullResolutionPixels();
    // The engine maps the status image onto the cut-out by their size ratio: both full-size
    // images must agree and carry pixels.
    if (!m_source.data || !m_cutout.data || m_source.width != m_cutout.width
        || m_source.height != m_cutout.height) {
        qWarning("DvCmdGenerateMask: the source (%dx%d) and cut-out (%dx%d) do not match",
                 m_source.width, m_source.height, m_cutout.width, m_cutout.height);
        return false;
    }
    if (m_forPatch && !m_patch->filledMask()->hasMask())
        return false;
    if (!m_area.isEmpty())
        m_engineArea = DvArea{m_area.left(), m_area.top(), m_area.width(), m_area.height()};
    buildRecords();
    for (GmRegion* patch : model()->patches())
        model()->statusArray()->markPatchDecided(patch);
    // Every change before this one has left the worker; those behind it are not in the cut-out.
    if (const DravikThread* thread = DravikThread::instance())
        m_madeFrom = thread->finishedChangeCount() + (countsAsChange() ? 1 : 0);
    return true;
}

void DvCmdGenerateMask::buildRecords()
{
    for (ForcedEdge* edge : model()->forcedEdges()) {
        const ForcedEdge::EnginePoints line = edge->enginePoints();
        if (line.count < 1)
            continue;
        m_edgePoints.emplace_back(line.points, line.points + line.count);
        m_edges.push_back(DvForcedEdge{nullptr, line.count, line.width});
    }
    // Pointed at only once the point lists no longer move.
    for (std::size_t i = 0; i < m_edges.size(); ++i)
        m_edges[i].points = m_edgePoints[i].data();

    const BlendingOptions& image = model()->blending()->options();
    for (GmRegion* patch : model()->patches()) {
        const PixelState* state = patch->filledMask();
        if (!state->hasMask())
            continue;
        const QImage mask = state->mask();
        m_patchMasks.append(mask);
        DvMaskPatch record{};
        record.area = state->selection();
        record.area.image.data = const_cast<uchar*>(mask.constBits());
        record.exclusive = patch == m_patch ? 1 : 0;
        const BlendingOptions& own = patch->blending().options();
        record.method = own.isMembrane ? 3 : own.isChoices ? 1 : 0;
        record.valueA = own.choices1;
        record.valueB = own.choices2;
        record.valueE = own.membrane1;
        record.level = own.isPatchBlendRatioTrackingImage ? image.blendRatio : own.blendRatio;
        record.valueD = own.isUniformBg ? 1.0f : 0.0f;
        putColour(record.colour1, own.fgOverride(), own.fgChecked);
        putColour(record.colour2, own.bgOverride(), own.bgChecked);
        m_patches.push_back(record);
        m_recordPatches.append(patch);
    }
    m_unsolved.assign(m_patches.size(), 0);
    for (std::size_t i = 0; i < m_patches.size(); ++i)
        m_patches[i].unsolved = &m_unsolved[i];
}

QList<QRect> DvCmdGenerateMask::unsolvedPlaces() const
{
    QList<QRect> places;
    const KsSourceImage* source = model() ? model()->source() : nullptr;
    const QRect image = source ? QRect(0, 0, source->width(), source->height()) : QRect();
    for (int i = 0; i < m_recordPatches.size(); ++i) {
        const GmRegion* patch = m_recordPatches[i];
        if (m_unsolved[std::size_t(i)] && patch && patch->shape())
            places.append(patch->shape()->boundingRect().toAlignedRect() & image);
    }
    return places;
}

QString DvCmdGenerateMask::unsolvedPatchesText(const QList<QRect>& places)
{
    const auto place = [](const QRect& r) {
        return QCoreApplication::translate("DvCmdGenerateMask", "the patch at %1, %2 (%3 x %4 pixels)")
            .arg(r.x())
            .arg(r.y())
            .arg(r.width())
            .arg(r.height());
    };
    QString text;
    if (places.size() == 1) {
        text = QCoreApplication::translate("DvCmdGenerateMask",
                                           "<p>Complex Hair Blending could not be used in %1.</p>")
                   .arg(place(places.first()));
    } else {
        QString list;
        for (const QRect& r : places)
            list += QStringLiteral("<li>%1</li>").arg(place(r));
        text = QCoreApplication::translate("DvCmdGenerateMask",
                                           "<p>Complex Hair Blending could not be used in these patches:</p>"
                                           "<ul>%1</ul>")
                   .arg(list);
    }
    return text
        + QCoreApplication::translate(
            "DvCmdGenerateMask",
            "<p>A Complex Hair patch needs both Keep and Delete within it: it takes the colours of "
            "the hair from the one and those of the background from the other.</p>"
            "<p>The cut-out was made there as it would be without the patch. Mark both Keep and "
            "Delete inside the patch, or choose other blending for it in Patch Properties.</p>");
}

void DvCmdGenerateMask::execute()
{
    s_cutoutStamp.store(1);
    m_result = DvGenerateMask(m_session, m_area.isEmpty() ? nullptr : &m_engineArea, m_cutout,
                              m_source, m_image, m_edges.data(), int(m_edges.size()), m_bandFactor,
                              m_level, m_patches.data(), int(m_patches.size()));
}

void DvCmdGenerateMask::clearDecidedBits()
{
    // The engine clears the marks only over the area it worked on; a mark left elsewhere would
    // make a later cut-out skip pixels.
    if (!model() || !m_image || model()->statusArray()->engineStatusImage() != m_image)
        return;
    for (int y = 0; y < m_image->height; ++y) {
        unsigned char* row = m_image->data + std::size_t(y) * m_image->stride;
        for (int x = 0; x < m_image->width; ++x)
            row[x] &= static_cast<unsigned char>(~kDecided);
    }
}

void DvCmdGenerateMask::finish()
{
    clearDecidedBits();
    checkResult(m_result);
    if (!model())
        return;
    // A cut-out that never ran leaves the preview and the stamp as they were.
    const QList<QRect> unsolved = hasExecuted() && m_result == DvOk ? unsolvedPlaces() : QList<QRect>();
    if (hasExecuted()) {
        model()->signalDirtyOutputImageSlot();
        if (m_result == DvOk && m_forPatch) {
            if (m_patch) {
                // A patch that could not be solved has no result of its own to keep.
                if (unsolved.isEmpty())
                    model()->savePatchResult(m_patch);
                emit model()->patchPreviewAvailable(m_patch);
            }
        } else if (m_result == DvOk && m_area.isEmpty()) {
            s_cutoutStamp.store(m_madeFrom);
        }
    }
    model()->statusRefresh();
    if (!unsolved.isEmpty())
        tellUnsolved(unsolved, !m_forPatch && !m_area.isEmpty());
}

void DvCmdGenerateMask::tellUnsolved(const QList<QRect>& places, bool testRender)
{
    const QString text = unsolvedPatchesText(places);
    qWarning("DvCmdGenerateMask: Complex Hair patches that could not be solved: %d", int(places.size()));
    // A test render follows the mouse: a message for each would stop the drag.
    if (testRender) {
        CommandHooks::showTip(text, false);
        return;
    }
    // The worker is inside its command's completion: a modal box must not run its own event
    // loop from there.
    QTimer::singleShot(0, QCoreApplication::instance(), [text] {
        Prompt::warning(CommandHooks::mainWindow(), productName(), text);
    });
}

void DvCmdGenerateMask::refreshOutputTab()
{
    if (model())
        model()->signalDirtyOutputImageSlot();
}
