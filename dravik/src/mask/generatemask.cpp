// The generate-mask driver: auto-fill, distances, the matting and mask-core jobs with the
// status bits that hand pixels from one job to the next, the temporary undo, and the
// forced-edge pass; and the session's entry that copies the cut-out in and out.
#include "mask/generatemask.h"

#include "mask/markdistance.h"
#include "session/session.h"
#include "matting/solver.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <set>

namespace classification {

namespace {

using corvath::utility::domainOf;
using corvath::utility::intersect;
using corvath::utility::viewOf;

constexpr unsigned char bitDecided = 64;
constexpr unsigned char bitPending = 128;

// The full-resolution pixels that the session rectangle r covers at factor f.
Rect fullResolution(const Rect& r, FloatPair f)
{
    return {int(float(r.x1) * f.x), int(float(r.y1) * f.y), int(float(r.x2 + 1) * f.x - 1.f),
            int(float(r.y2 + 1) * f.y - 1.f)};
}

// Applies op to every status byte of r (inside the array).
template <typename Op>
void forEachStatus(Bytes& status, const Rect& r, Op op)
{
    if (r.isEmpty())
        return;
    const std::ptrdiff_t s1 = status.stride(1);
    for (int x = r.x1; x <= r.x2; ++x) {
        unsigned char* p = &status(x, r.y1);
        for (int y = r.y1; y <= r.y2; ++y, p += s1)
            op(*p, x, y);
    }
}

// Opens a job's pixels: bit 128 over r, or only inside the patch's bitmap when it has one.
void markJob(Bytes& status, const Rect& r, const MaskPatch* patch)
{
    if (!patch || patch->bitmap.numElements() == 0) {
        forEachStatus(status, r, [](unsigned char& s, int, int) { s |= bitPending; });
        return;
    }
    const Bytes& bitmap = patch->bitmap;
    forEachStatus(status, r, [&bitmap](unsigned char& s, int x, int y) {
        s = bitmap(x, y) ? (s | bitPending) : (s & 0x7F);
    });
}

// A finished job's pixels become decided.
void settleJob(Bytes& status, const Rect& r)
{
    forEachStatus(status, r, [](unsigned char& s, int, int) {
        if (s & bitPending)
            s = (s | bitDecided) & 0x7F;
    });
}

// A job that wrote nothing hands its pixels on to the jobs after it.
void releaseJob(Bytes& status, const Rect& r)
{
    forEachStatus(status, r, [](unsigned char& s, int, int) { s &= 0x7F; });
}

// The blend level of every pixel of R: the call's, or that of the last patch over it; a patch
// that could not be solved leaves the level as it would be without it.
void layLevels(Bytes& levelMap, const Rect& R, float level, const std::vector<MaskPatch>& patches)
{
    levelMap = static_cast<unsigned char>(int(level * 255.f));
    for (const MaskPatch& p : patches) {
        if (p.unsolved)
            continue;
        const Rect r = intersect(p.rectangle, R);
        const auto value = static_cast<unsigned char>(int(p.level * 255.f));
        const bool masked = p.bitmap.numElements() != 0;
        for (int x = r.x1; x <= r.x2; ++x)
            for (int y = r.y1; y <= r.y2; ++y)
                if (!masked || p.bitmap(x, y))
                    levelMap(x, y) = value;
    }
}

template <typename T>
void copyPixels(ColourImage<T>& to, const ColourImage<T>& from, const Rect& r)
{
    if (r.isEmpty())
        return;
    for (int x = r.x1; x <= r.x2; ++x) {
        Colour<T>* o = &to(x, r.y1);
        const Colour<T>* s = &from(x, r.y1);
        const std::ptrdiff_t os = to.stride(1), ss = from.stride(1);
        for (int y = r.y1; y <= r.y2; ++y, o += os, s += ss)
            corvath::utility::copyColour(*o, *s);
    }
}

// What a mask generation leaves behind on every way out: bits 64 and 128 cleared over the
// working rectangles, and the auto-fill steps, recorded on a local stack, undone; only a
// whole-image generation that succeeds keeps them, as the user's steps.
class MaskCleanup {
public:
    MaskCleanup(IiClassification& c, Bytes& status, UndoStack& local, bool keepOnSuccess)
        : m_c(c), m_status(status), m_local(local), m_keepOnSuccess(keepOnSuccess)
    {
        m_rects.reserve(2);
    }

    void cover(const Rect& r) { m_rects.push_back(r); }

    void clearBits()
    {
        for (const Rect& r : m_rects)
            forEachStatus(m_status, r, [](unsigned char& s, int, int) { s &= 0x3F; });
    }

    // The generation's result: anything but 0 leaves the statuses and the user's steps as
    // they were.
    int finish(int result)
    {
        if (result == 0 && m_keepOnSuccess && !m_done) {
            m_c.undoStack().appendSteps(m_local);
            m_done = true;
            clearBits();
            return 0;
        }
        run();
        return result;
    }

    void run()
    {
        if (m_done)
            return;
        m_done = true;
        if (!m_keepOnSuccess)
            std::cout << "nUndo " << m_local.undoCount() << std::endl;
        const bool filled = m_local.undoCount() > 0;
        while (m_local.undoCount() > 0)
            m_local.undo(m_c.dirty());
        // The auto-fill was taken back: nothing may commit or despeckle it again.
        if (filled || !m_keepOnSuccess)
            m_c.resetOperation();
        clearBits();
    }

private:
    IiClassification& m_c;
    Bytes& m_status;
    UndoStack& m_local;
    bool m_keepOnSuccess;
    std::vector<Rect> m_rects;
    bool m_done = false;
};

template <typename T, int M>
int runMaskCore(IiClassification& c, ColourImage<T>& O, const ColourImage<T>& S,
                const ColourImage<T>& source, Bytes& status, const Rect& rect,
                const Rect& sampleRect, FloatPair factor, const Bytes& levelMap,
                const MarkDistances& distances, int model, float valueE, ProgressRange progress)
{
    const MaskCoreSession session = maskCoreSession(c);
    const bool sameExtent = domainOf(source) == c.imageRect();
    if constexpr (M == 32768) {
        if (sameExtent)
            return computeMaskCoreVariant<T>(session, O, S, source, status, rect, sampleRect, factor,
                                             levelMap, distances, model, valueE, progress);
        return invokeMaskCoreVariant<T>(session, O, S, c.image(), status, rect, sampleRect, factor,
                                        levelMap, distances, model, valueE, progress);
    } else {
        if (sameExtent)
            return computeMaskCore<T>(session, O, S, source, status, rect, sampleRect, factor,
                                      levelMap, distances, model, valueE, progress);
        return invokeMaskCore<T>(session, O, S, c.image(), status, rect, sampleRect, factor, levelMap,
                                 distances, model, valueE, progress);
    }
}

template <typename T, int M>
int runMatting(const ColourImage<T>& S, Bytes& status, ColourImage<T>& O, const Rect& rect,
               FloatPair factor, const MaskPatch& patch, ProgressRange progress)
{
    if constexpr (M == 32768)
        return corvath::matting::solveMatteVariant<T>(S, status, O, rect, factor, patch, progress);
    else
        return corvath::matting::solveMatte<T>(S, status, O, rect, factor, patch, progress);
}

// Steps up to the jobs' end; returns the changed flag, or -1 when a one-class path or an
// empty exclusive patch has finished the call (result in `early`).
template <typename T, int M>
int generateMaskBody(IiClassification& c, ColourImage<T>& output, const ColourImage<T>& source,
                     Bytes& status, const std::optional<Rect>& area, FloatPair factor,
                     const ForcedEdgeSet& edgeSet, std::vector<MaskPatch>& patches,
                     ProgressRange progress)
{
    const Rect statusRect = domainOf(status);
    const Rect whole = intersect(c.imageRect(), statusRect);
    const Rect callRect = area ? intersect(whole, *area) : whole;
    if (callRect.isEmpty())
        return 1;
    const Rect F = intersect(fullResolution(callRect, factor), domainOf(output));
    if (F.isEmpty())
        return 1;

    // The whole image keeps its auto-fill steps as the user's when it succeeds; a part undoes
    // them.
    const bool wholeImage = callRect == whole;
    UndoStack undo(100);
    MaskCleanup cleanup(c, status, undo, wholeImage);
    cleanup.cover(callRect);

    try {
        Rect R = callRect;
        const Rect E = intersect(corvath::utility::growByWindow(R, statusRect.divide(16)), statusRect);
        // Without a width map (no analysis) auto-fill lays no band.
        const bool widths = c.widthMap.numElements() != 0 && corvath::utility::covers(domainOf(c.widthMap), whole);
        const MaskAutoFill filled = autoFillForMask(c, whole, R, status, E, widths ? edgeSet.bandFactor : 0.f,
                                                    undo, progress.nextStep(0.1f));

        ColourImage<T> O = viewOf(output, F);
        const ColourImage<T> S = viewOf(source, F);
        if (!filled.hasDelete) {
            copyPixels(O, S, F);
            return cleanup.finish(0);
        }
        if (!filled.hasKeep) {
            for (int x = F.x1; x <= F.x2; ++x) {
                Colour<T>* o = &O(x, F.y1);
                for (int y = F.y1; y <= F.y2; ++y, o += O.stride(1))
                    (*o)[3] = 0;
            }
            return cleanup.finish(0);
        }

        // Job kinds: 0 matting patches, 1 mask-core patches, 2 the whole working area.
        std::set<int> kinds{2};
        std::vector<MaskPatch> exclusiveOnly;
        std::vector<MaskPatch>* jobs = &patches;
        MaskPatch* exclusive = nullptr;
        for (MaskPatch& p : patches) {
            p.unsolved = false;
            p.rectangle = intersect(p.rectangle, whole);
            if (p.exclusive) {
                if (p.rectangle.isEmpty())
                    return cleanup.finish(1);
                kinds = {p.method == 3 ? 1 : p.method == 1 ? 0 : 2};
                R = p.rectangle;
                cleanup.cover(R);
                if (p.bitmap.numElements() != 0) {
                    const Bytes& bitmap = p.bitmap;
                    forEachStatus(status, R, [&bitmap](unsigned char& s, int x, int y) {
                        s = bitmap(x, y) ? (s & ~bitDecided) : (s | bitDecided);
                    });
                }
                exclusiveOnly.push_back(p);
                jobs = &exclusiveOnly;
                exclusive = &p;
                break;
            }
            if (p.method == 3)
                kinds.insert(1);
            else if (p.method == 1)
                kinds.insert(0);
        }

        Bytes levelMap;
        corvath::utility::fitArrayToRect(levelMap, R);
        layLevels(levelMap, R, edgeSet.level, *jobs);

        MarkDistances distances;
        computeMarkDistances(distances, viewOf(status, R), progress.nextStep(0.2f));

        int changed = 0;
        const int n = int(jobs->size());
        for (int kind = 0; kind <= 2; ++kind) {
            if (!kinds.count(kind))
                continue;
            if (kind == 0) {
                bool unsolved = false;
                for (int i = 0; i < n; ++i) {
                    const MaskPatch& p = (*jobs)[i];
                    const Rect r = intersect(p.rectangle, callRect);
                    if (p.method != 1 || r.isEmpty())
                        continue;
                    markJob(status, r, &p);
                    // Each patch's share ends at its place in the list, also behind the
                    // current position.
                    const float t = 0.5f * float(i + 1) / float(n);
                    ProgressRange child(progress.parent, progress.at(progress.position), progress.at(t));
                    progress.position = t;
                    // A patch whose colours cannot be sampled has written nothing: its pixels
                    // are left to the jobs after it, as if it were not there.
                    if (runMatting<T, M>(S, status, O, r, factor, p, child) != 0) {
                        releaseJob(status, r);
                        (*jobs)[i].unsolved = unsolved = true;
                    } else {
                        settleJob(status, r);
                    }
                }
                if (unsolved) {
                    layLevels(levelMap, R, edgeSet.level, *jobs);
                    // Generated alone, the patch's own pixels then take the whole-area mask.
                    kinds.insert(2);
                    if (exclusive)
                        exclusive->unsolved = true;
                }
            } else if (kind == 1) {
                for (const MaskPatch& p : *jobs) {
                    const Rect r = intersect(p.rectangle, callRect);
                    if (p.method != 3 || r.isEmpty())
                        continue;
                    markJob(status, r, &p);
                    changed |= runMaskCore<T, M>(c, O, S, source, status, r, filled.sampleRect, factor,
                                                 levelMap, distances, RegionColours, p.valueE,
                                                 progress.nextStep(0.75f));
                    settleJob(status, r);
                }
            } else {
                const Rect r = intersect(R, callRect);
                if (!r.isEmpty()) {
                    markJob(status, r, nullptr);
                    changed |= runMaskCore<T, M>(c, O, S, source, status, r, filled.sampleRect, factor,
                                                 levelMap, distances, ColourPyramids, MaskPatch().valueE,
                                                 progress.nextStep(0.9f));
                    settleJob(status, r);
                }
            }
        }
        // The edges probe the user's own marks, so a part's auto-fill is taken back first; the
        // whole image's stays unless the generation fails.
        if (wholeImage)
            cleanup.clearBits();
        else
            cleanup.run();

        std::vector<ForcedEdge> edges = edgeSet.edges;
        for (ForcedEdge& e : edges) {
            e.width *= factor.x;
            for (FloatPair& p : e.points)
                p = {(p.x + 0.5f) * factor.x, (p.y + 0.5f) * factor.y};
        }
        int passResult;
        if constexpr (M == 32768)
            passResult = maskPassVariant<T>(c.minimumOpacity, O, S, status, factor, edges, progress.nextStep(1.f));
        else
            passResult = maskPass<T>(c.minimumOpacity, O, S, status, factor, edges, progress.nextStep(1.f));
        return cleanup.finish(passResult & changed);
    } catch (...) {
        try {
            cleanup.run();
        } catch (...) {
        }
        throw;
    }
}

} // namespace

template <typename T>
int generateMask(IiClassification& c, ColourImage<T>& output, const ColourImage<T>& source,
                 Bytes& status, const std::optional<Rect>& area, FloatPair factor,
                 const ForcedEdgeSet& edgeSet, std::vector<MaskPatch>& patches, ProgressRange progress)
{
    constexpr int M = sizeof(T) == 1 ? 255 : 65535;
    return generateMaskBody<T, M>(c, output, source, status, area, factor, edgeSet, patches, progress);
}

template <typename T>
int generateMaskVariant(IiClassification& c, ColourImage<T>& output, const ColourImage<T>& source,
                        Bytes& status, const std::optional<Rect>& area, FloatPair factor,
                        const ForcedEdgeSet& edgeSet, std::vector<MaskPatch>& patches,
                        ProgressRange progress)
{
    return generateMaskBody<T, 32768>(c, output, source, status, area, factor, edgeSet, patches, progress);
}

#define DRAVIK_GENERATE_MASK_ARGS(T)                                                               \
    IiClassification&, ColourImage<T>&, const ColourImage<T>&, Bytes&, const std::optional<Rect>&, \
        FloatPair, const ForcedEdgeSet&, std::vector<MaskPatch>&, ProgressRange

template int generateMask<unsigned char>(DRAVIK_GENERATE_MASK_ARGS(unsigned char));
template int generateMask<unsigned short>(DRAVIK_GENERATE_MASK_ARGS(unsigned short));
template int generateMaskVariant<unsigned short>(DRAVIK_GENERATE_MASK_ARGS(unsigned short));

} // namespace classification

// ---------------------------------------------------------------------------------------------
// The session's entry

namespace {

using classification::ColourImage;
using classification::Rect;

// Whether the rows start on whole, aligned pixels, so that an array can view the memory.
template <typename T>
bool viewable(const DvImageDesc& image)
{
    using Pixel = classification::Colour<T>;
    return image.stride % sizeof(Pixel) == 0 &&
           reinterpret_cast<std::uintptr_t>(image.data) % alignof(Pixel) == 0;
}

// A view of the caller's pixels, or a packed copy where the memory cannot be viewed.
template <typename T>
ColourImage<T> viewOfDescriptor(const DvImageDesc& image)
{
    using Pixel = classification::Colour<T>;
    if (viewable<T>(image))
        return ColourImage<T>(static_cast<Pixel*>(image.data), blitz::shape(image.height, image.width),
                              blitz::shape(long(image.stride / sizeof(Pixel)), 1L), blitz::neverDeleteData);
    ColourImage<T> copy(image.height, image.width);
    const auto* from = static_cast<const unsigned char*>(image.data);
    for (int r = 0; r < image.height; ++r)
        std::memcpy(static_cast<void*>(&copy(r, 0)), from + std::size_t(r) * image.stride, std::size_t(image.width) * sizeof(Pixel));
    return copy;
}

// Writes r of a packed copy back into the caller's pixels.
template <typename T>
void writeBack(const DvImageDesc& image, const ColourImage<T>& copy, const Rect& r)
{
    using Pixel = classification::Colour<T>;
    auto* to = static_cast<unsigned char*>(image.data);
    for (int x = r.x1; x <= r.x2; ++x)
        std::memcpy(to + std::size_t(x) * image.stride + std::size_t(r.y1) * sizeof(Pixel), &copy(x, r.y1),
                    std::size_t(r.y2 - r.y1 + 1) * sizeof(Pixel));
}

// The body works on a copy of the cut-out over the area's full-resolution pixels, written back
// only when it returns 0.
template <typename T, int M>
int generateMaskOn(classification::IiClassification& c, const DvImageDesc& cutOut,
                   const DvImageDesc& source, classification::Bytes& status, const Rect& area,
                   classification::FloatPair factor, const classification::ForcedEdgeSet& edges,
                   std::vector<classification::MaskPatch>& patches, ProgressRange progress)
{
    if (area.isEmpty())
        return DvRefused;
    ColourImage<T> cut = viewOfDescriptor<T>(cutOut);
    const ColourImage<T> src = viewOfDescriptor<T>(source);
    const Rect full = corvath::utility::intersect(
        classification::Rect{int(float(area.x1) * factor.x), int(float(area.y1) * factor.y),
                             int(float(area.x2 + 1) * factor.x - 1.f), int(float(area.y2 + 1) * factor.y - 1.f)},
        corvath::utility::domainOf(cut));
    if (area.isEmpty() || full.isEmpty())
        return DvRefused;
    ColourImage<T> output;
    corvath::utility::fitArrayToRect(output, full);
    classification::copyPixels(output, cut, full);
    int result;
    if constexpr (M == 32768)
        result = classification::generateMaskVariant<T>(c, output, src, status, area, factor, edges,
                                                        patches, progress);
    else
        result = classification::generateMask<T>(c, output, src, status, area, factor, edges, patches,
                                                 progress);
    if (result == 0) {
        classification::copyPixels(cut, output, full);
        if (!viewable<T>(cutOut))
            writeBack<T>(cutOut, cut, full);
    }
    return result;
}

int generateMask8(classification::IiClassification& c, const DvImageDesc& cutOut, const DvImageDesc& source,
                  classification::Bytes& status, const Rect& area, classification::FloatPair factor,
                  const classification::ForcedEdgeSet& edges,
                  std::vector<classification::MaskPatch>& patches, ProgressRange progress)
{
    return generateMaskOn<unsigned char, 255>(c, cutOut, source, status, area, factor, edges, patches, progress);
}

int generateMask16a(classification::IiClassification& c, const DvImageDesc& cutOut, const DvImageDesc& source,
                    classification::Bytes& status, const Rect& area, classification::FloatPair factor,
                    const classification::ForcedEdgeSet& edges,
                    std::vector<classification::MaskPatch>& patches, ProgressRange progress)
{
    return generateMaskOn<unsigned short, 65535>(c, cutOut, source, status, area, factor, edges, patches,
                                                 progress);
}

int generateMask16b(classification::IiClassification& c, const DvImageDesc& cutOut, const DvImageDesc& source,
                    classification::Bytes& status, const Rect& area, classification::FloatPair factor,
                    const classification::ForcedEdgeSet& edges,
                    std::vector<classification::MaskPatch>& patches, ProgressRange progress)
{
    return generateMaskOn<unsigned short, 32768>(c, cutOut, source, status, area, factor, edges, patches,
                                                 progress);
}

float clamp01(float v) { return v > 0.f ? (v < 1.f ? v : 1.f) : 0.f; }  // NaN gives 0

} // namespace

DvResult DvInSession::generateMask(const DvImageDesc& cutOut, const DvImageDesc& source,
                                   DvInImage& statusImage, const classification::Rect& area, int factor,
                                   const DvForcedEdge* edges, int edgeCount, float bandFactor,
                                   float level, const DvMaskPatch* patches, int patchCount)
{
    if (m_ownAnalysis && analysed == 0)
        return DvNoSegmentation;
    for (int i = 0; i < patchCount; ++i)
        if (!dravik::readableSelection(patches[i].area))
            return DvRefused;
    ensurePrivateStatus(statusImage);
    try {
        DvInProgress reporter(DvProgressCallback, "Generate mask", true);
        // Matting patches' shares end at their place in the list, behind the distances' share.
        RisingReporter rising(&reporter);
        ProgressRange range(&rising);

        std::vector<classification::MaskPatch> list(static_cast<std::size_t>(patchCount));
        for (int i = 0; i < patchCount; ++i) {
            const DvMaskPatch& in = patches[i];
            classification::MaskPatch& p = list[std::size_t(i)];
            const dravik::AreaRecord a = dravik::areaOf(in.area);
            p.rectangle = a.rectangle;
            if (a.bitmap)
                p.bitmap.reference(*a.bitmap);
            p.exclusive = in.exclusive != 0;
            p.method = in.method;
            p.valueA = in.valueA;
            p.valueB = in.valueB;
            p.valueE = in.valueE;
            p.valueD = in.valueD > 0.5f ? 1.f : 0.f;
            p.level = clamp01(in.level);
            std::copy(in.colour1, in.colour1 + 3, p.colour1.begin());
            std::copy(in.colour2, in.colour2 + 3, p.colour2.begin());
        }

        classification::ForcedEdgeSet edgeSet;
        edgeSet.bandFactor = bandFactor;
        edgeSet.level = level;
        for (int i = 0; i < edgeCount; ++i) {
            const DvForcedEdge& in = edges[i];
            classification::ForcedEdge e;
            e.width = in.width;
            for (int k = 0; in.points && k < in.count; ++k) {
                const classification::FloatPair q{in.points[k].row, in.points[k].column};
                if (e.points.empty() || e.points.back().x != q.x || e.points.back().y != q.y)
                    e.points.push_back(q);
            }
            if (e.points.size() >= 2)
                edgeSet.edges.push_back(std::move(e));
        }

        classification::Bytes status = statusArrayFor(statusImage);
        classification::IiClassification& c = *m_classification;
        c.maskSmooth = m_variables.bSmooth.effective();
        c.maskCareful = m_variables.bCareful.effective();
        c.maskGreedy = m_variables.bGreedy.effective();

        const classification::FloatPair f{float(factor), float(factor)};
        ProgressRange body = range.nextStep(0.75f);
        int result;
        switch (source.pixelType) {
        case DvPixelRgba8:
            result = generateMask8(c, cutOut, source, status, area, f, edgeSet, list, body);
            break;
        case DvPixelRgba16:
            result = generateMask16a(c, cutOut, source, status, area, f, edgeSet, list, body);
            break;
        case DvPixelRgba16H:
            result = generateMask16b(c, cutOut, source, status, area, f, edgeSet, list, body);
            break;
        default:
            result = DvRefused;
        }
        if (result == DvOk)
            for (int i = 0; i < patchCount; ++i)
                if (patches[i].unsolved)
                    *patches[i].unsolved = list[std::size_t(i)].unsolved ? 1 : 0;
        refreshDirtyArea();
        return result;
    } catch (const DvExCancel&) {
        refreshDirtyArea();
        return DvCancelled;
    } catch (const std::bad_alloc&) {
        refreshDirtyArea();
        return DvOutOfMemory;
    }
}
