#include "session/session.h"

#include "session/scale.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <unordered_map>

using classification::Bytes;
using classification::Rect;
using classification::RgbaView8;
using corvath::utility::IntPair;

namespace dravik {

namespace {

int clampToInt(long long v) { return int(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

// The inclusive rectangle, rows first, of an area given as left, top, width and height.
Rect rectOf(int left, int top, int width, int height)
{
    return {top, left, clampToInt((long long)top + height - 1), clampToInt((long long)left + width - 1)};
}

} // namespace

namespace {

struct LiveHandle {
    HandleKind kind;
    DvLibrary* library;
};

struct HandleRegistry {
    std::mutex lock;
    std::unordered_map<const void*, LiveHandle> live;
};

HandleRegistry& registry()
{
    static HandleRegistry r;
    return r;
}

// The library of a live handle of that kind, or null; the registry's lock must be held.
DvLibrary* liveLibraryOf(const void* handle, HandleKind kind)
{
    if (!handle)
        return nullptr;
    const auto& live = registry().live;
    const auto found = live.find(handle);
    return found != live.end() && found->second.kind == kind ? found->second.library : nullptr;
}

DvResult checkImage(const DvImage* image)
{
    return liveLibraryOf(image, HandleKind::Image) ? DvOk : DvBadImage;
}

DvResult checkSession(const DvSession* session)
{
    const DvLibrary* library = liveLibraryOf(session, HandleKind::Session);
    if (!library)
        return DvBadSession;
    return library->dead ? DvLibraryDead : DvOk;
}

DvResult checkLibrary(const DvLibrary* library)
{
    if (!liveLibraryOf(library, HandleKind::Library))
        return DvBadLibrary;
    return library->dead ? DvLibraryDead : DvOk;
}

} // namespace

void registerHandle(const void* handle, HandleKind kind, DvLibrary* library)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    registry().live[handle] = LiveHandle{kind, library};
}

void unregisterHandle(const void* handle)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    registry().live.erase(handle);
}

DvResult validateImage(const DvImage* image)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    return checkImage(image);
}

DvResult validateLibrary(const DvLibrary* library)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    return checkLibrary(library);
}

DvResult validateSession(const DvSession* session)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    return checkSession(session);
}

void markDead(const DvSession* session)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    if (checkSession(session) == DvOk)
        liveLibraryOf(session, HandleKind::Session)->dead = 1;
}

void markDead(DvLibrary* library)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    if (checkLibrary(library) == DvOk)
        library->dead = 1;
}

DvResult EntryClaim::claim(DvLibrary* library)
{
    if (library->busy)
        return DvRefused;
    library->busy = true;
    m_claimed = library;
    return DvOk;
}

void EntryClaim::release()
{
    if (!m_claimed)
        return;
    std::lock_guard<std::mutex> hold(registry().lock);
    m_claimed->busy = false;
    m_claimed = nullptr;
}

DvResult EntryClaim::library(DvLibrary* library)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    if (const DvResult r = checkLibrary(library))
        return r;
    return claim(library);
}

DvResult EntryClaim::session(const DvSession* session)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    if (const DvResult r = checkSession(session))
        return r;
    return claim(liveLibraryOf(session, HandleKind::Session));
}

DvResult EntryClaim::image(const DvImage* image)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    if (const DvResult r = checkImage(image))
        return r;
    return claim(liveLibraryOf(image, HandleKind::Image));
}

DvResult EntryClaim::imageAndSession(const DvImage* image, const DvSession* session)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    if (const DvResult r = checkImage(image))
        return r;
    if (const DvResult r = checkSession(session))
        return r;
    DvLibrary* library = liveLibraryOf(session, HandleKind::Session);
    // Undo records keep views of the image's bytes, which another library may free.
    if (liveLibraryOf(image, HandleKind::Image) != library)
        return DvBadImage;
    return claim(library);
}

void destroyLibrary(DvLibrary* library)
{
    // A top session ends its sub-sessions before itself.
    while (!library->sessions.empty()) {
        DvInSession* s = *library->sessions.begin();
        while (s->parentSession())
            s = s->parentSession();
        delete s;
    }
    // Each image leaves the set as it is destroyed.
    const std::vector<DvInImage*> images(library->images.begin(), library->images.end());
    for (DvInImage* image : images)
        delete image;
    unregisterHandle(library);
    library->magic = 0;
    delete library;
}

int bytesPerPixel(int pixelType)
{
    switch (pixelType) {
    case DvPixelStatus: return 1;
    case DvPixelRgba8: return 4;
    case DvPixelRgba16:
    case DvPixelRgba16H: return 8;
    default: return 0;
    }
}

AreaRecord areaOf(const DvSelection& selection)
{
    const DvImageDesc& d = selection.image;
    // Clipped to a square that no image reaches, so that the operations' sums and the bitmap's
    // bounds stay ints wherever the caller places it.
    const long long limit = positionLimit;
    const long long top = selection.top, left = selection.left;
    const long long x1 = std::clamp(top, -limit, limit), y1 = std::clamp(left, -limit, limit);
    const long long x2 = std::min(top + d.height - 1, limit), y2 = std::min(left + d.width - 1, limit);
    if (d.width <= 0 || d.height <= 0 || x1 > x2 || y1 > y2)
        return {Rect{int(x1), int(y1), int(x1) - 1, int(y1) - 1}, std::nullopt};
    AreaRecord area{Rect{int(x1), int(y1), int(x2), int(y2)}, std::nullopt};
    if (d.data) {
        unsigned char* first = static_cast<unsigned char*>(d.data) + std::size_t(x1 - top) * d.stride +
                               std::size_t(y1 - left);
        Bytes bitmap(first, blitz::shape(int(x2 - x1 + 1), int(y2 - y1 + 1)), blitz::shape(long(d.stride), 1L),
                     blitz::neverDeleteData);
        bitmap.reindexSelf(blitz::TinyVector<int, 2>(int(x1), int(y1)));
        area.bitmap = bitmap;
    }
    return area;
}

bool readableSelection(const DvSelection& selection)
{
    const DvImageDesc& d = selection.image;
    return !d.data || d.width <= 0 || d.height <= 0 || d.stride >= unsigned(d.width);
}

SelectMasks selectMasks(unsigned char newValue, unsigned char matchTarget, int mode)
{
    const int s = newValue, t = matchTarget;
    if (s == 1 && t == 16)
        return {16, 16};
    if (s == 1 && t != 16 && t != 32)
        return {15, static_cast<unsigned char>(mode == 0 ? 47 : 63)};
    if (t == 16 || s == 16)
        return {16, 16};
    if (t == 32 || s == 32)
        return {32, 32};
    if (s == 2 || s == 4 || s == 8)
        return {15, 63};
    return {0, 0};
}

int resolutionFactor(int fullWidth, int fullHeight, int statusWidth, int statusHeight)
{
    if (fullWidth == statusWidth && fullHeight == statusHeight)
        return 1;
    // The status image of a reduced session is made by the scaling entry: its factor holds.
    const int scaled = classification::scaleFactor(fullWidth, fullHeight, statusWidth, statusHeight);
    if (scaled == 1 || scaled == 2 || scaled == 4 || scaled == 8)
        return scaled;
    float r;
    if (statusHeight > 1)
        r = float(fullHeight - 1) / float(statusHeight - 1);
    else if (statusWidth > 1)
        r = float(fullWidth - 1) / float(statusWidth - 1);
    else
        r = float(std::max(fullWidth, fullHeight));  // one status pixel covers the whole image
    if (r > 0.9f && r < 1.1f)
        return 1;
    if (r > 1.8f && r < 2.2f)
        return 2;
    if (r > 3.6f && r < 4.4f)
        return 4;
    return 8;
}

bool factorRelatesSizes(int fullWidth, int fullHeight, int statusWidth, int statusHeight, int factor)
{
    if (factor < 1)
        return false;
    const auto reduced = [factor](int full) { return (std::int64_t(full) + factor - 1) / factor; };
    return reduced(fullWidth) == statusWidth && reduced(fullHeight) == statusHeight;
}

Rect maskArea(const DvArea* area, int width, int height)
{
    const Rect image{0, 0, height - 1, width - 1};
    if (!area)
        return image;
    return corvath::utility::intersect(rectOf(area->left, area->top, area->width, area->height), image);
}

AnalysisWork analysisWork(bool unanalysed, const Variables& v)
{
    if (unanalysed || v.maxBits.changed() || v.percentile.changed() || v.texture.changed())
        return AnalysisWork::Rebuild;
    if (v.imageTol.changed() || v.featureTol.changed() || v.focus.changed() ||
        v.colourBits.changed() || v.interpolation.changed() || v.resolution.changed() ||
        v.overlap.changed())
        return AnalysisWork::Rerun;
    return AnalysisWork::None;
}

} // namespace dravik

using namespace dravik;

// ---------------------------------------------------------------------------------------------
// Status images

DvInImage::DvInImage(DvLibrary* library, int w, int h, bool registered)
    : DvImage{w, h, (unsigned(w) + 3u) & ~3u, DvPixelStatus, nullptr, handleMagic, 1, library},
      m_registered(registered)
{
    const std::size_t bytes = std::size_t(h) * stride + 3;
    m_allocation.reset(new unsigned char[bytes]());
    const std::uintptr_t raw = reinterpret_cast<std::uintptr_t>(m_allocation.get());
    data = m_allocation.get() + ((m_alignment - raw % m_alignment) % m_alignment);
    if (m_registered) {
        library->images.insert(this);
        try {
            registerHandle(static_cast<DvImage*>(this), HandleKind::Image, library);
        } catch (...) {
            library->images.erase(this);
            throw;
        }
    }
}

DvInImage::~DvInImage()
{
    if (m_registered) {
        unregisterHandle(static_cast<DvImage*>(this));
        library->images.erase(this);
    }
    magic = 0;
}

Bytes DvInImage::bytes() const
{
    return Bytes(data, blitz::shape(height, width), blitz::shape(long(stride), 1L), blitz::neverDeleteData);
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

namespace {

RgbaView8 patchView(const RgbaView8& parent, const Rect& r)
{
    RgbaView8 v = parent(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    v.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
    return v;
}

// The strength of a select as an int; values no int holds count as 0.
int truncatedStrength(float strength)
{
    if (!(strength > float(INT_MIN) && strength < float(INT_MAX)))
        return 0;
    return int(strength);
}

// The class of the first marked pixel (Keep or Delete) in row order over the area, 0 when
// there is none.
unsigned char firstMarkedClass(const Bytes& status, const std::optional<Rect>& area)
{
    const Rect domain = corvath::utility::domainOf(status);
    const Rect r = area ? corvath::utility::intersect(*area, domain) : domain;
    if (r.isEmpty())
        return 0;
    for (int x = r.x1; x <= r.x2; ++x) {
        const unsigned char* p = &status(x, r.y1);
        for (int y = r.y1; y <= r.y2; ++y, p += status.stride(1))
            if (*p & (classification::StatusKeep | classification::StatusDelete))
                return *p & (classification::StatusKeep | classification::StatusDelete);
    }
    return 0;
}

} // namespace

DvInSession::DvInSession(DvLibrary* library, DvInSession* parent, const RgbaView8& view,
                         const char* title, DvProgressFunction callback, bool ownAnalysis)
    : DvSession{},
      m_libraryRecord(library),
      m_parent(parent),
      m_image(view),
      m_progress(callback, title, true),
      m_rootRange(&m_progress),
      m_classification(std::make_unique<classification::IiClassification>(m_image)),
      m_ownAnalysis(ownAnalysis)
{
    magic = handleMagic;
    this->library = library;
    this->parent = parent;
}

DvInSession::DvInSession(DvLibrary* library, const DvImageDesc& image, DvProgressFunction callback)
    : DvInSession(library, nullptr, classification::readRgba8(image), "Begin Session", callback, true)
{
    initialiseVariables(image.width, image.height);
    width = image.width;
    height = image.height;
    analysed = 0;
    outlines = nullptr;
    outlineCount = 0;
    refreshDirtyArea();
    m_progress.lap();
    m_progress.restart();
    registerSession();
}

DvInSession::DvInSession(DvInSession* parent, const AreaRecord& patch, bool ownAnalysis,
                         DvProgressFunction callback)
    : DvInSession(parent->m_libraryRecord, parent, patchView(parent->m_image, patch.rectangle),
                  "Begin sub-session", callback, ownAnalysis)
{
    m_selection = patch;
    const IntPair size = corvath::utility::extent(patch.rectangle);  // rows, columns
    if (m_ownAnalysis)
        initialiseVariables(size.y, size.x);
    analysed = 0;
    if (!m_ownAnalysis && parent->analysed)
        m_classification->adoptAnalysis(*parent->m_classification);
    if (patch.bitmap) {
        m_outlines = classification::publishOutlines(classification::buildSelectionOutline(*patch.bitmap));
        outlines = m_outlines.data();
        outlineCount = m_outlines.count();
    }
    left = patch.rectangle.y1;
    top = patch.rectangle.x1;
    width = size.y;
    height = size.x;
    dirtyLeft = left;
    dirtyTop = top;
    dirtyWidth = width;
    dirtyHeight = height;
    m_progress.lap();
    m_progress.restart();
    registerSession();
}

DvInSession::~DvInSession()
{
    // Each child takes itself off this list as it goes.
    while (!m_children.empty())
        delete m_children.back();
    if (m_parent) {
        auto& siblings = m_parent->m_children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    unregisterHandle(static_cast<DvSession*>(this));
    m_libraryRecord->sessions.erase(this);
    // The undo records view the private status copies, so they go first.
    m_classification.reset();
    m_statusViews.clear();
    m_selection.reset();
    freeOutlines();
    magic = 0;
}

void DvInSession::registerSession()
{
    if (m_parent)
        m_parent->m_children.push_back(this);
    try {
        m_libraryRecord->sessions.insert(this);
        registerHandle(static_cast<DvSession*>(this), HandleKind::Session, m_libraryRecord);
    } catch (...) {
        m_libraryRecord->sessions.erase(this);
        if (m_parent)
            m_parent->m_children.pop_back();
        throw;
    }
}

void DvInSession::initialiseVariables(int imageWidth, int imageHeight)
{
    variables = m_variables.records();
    variableCount = m_variables.count();
    m_variables.publish();
    m_variables.resetDefaults(std::max(imageWidth, imageHeight));
    refreshSuggestedEdgeSettings();
    m_variables.commitAll();
    m_variables.publish();
    applyVariables();
}

void DvInSession::applyVariables()
{
    classification::IiClassification& c = *m_classification;
    classification::AnalysisParameters& p = c.parameters;
    const Variables& v = m_variables;
    p.colourBits = v.colourBits.effective();
    p.inFocusEdgeWidth = v.inFocusEdgeWidth.effective();
    c.maximumBits = v.maxBits.effective();
    p.interpolation = v.interpolation.effective();
    p.resolution = int(v.resolution.effective());
    p.overlap = v.overlap.effective();
    p.histogramLevel = 4;
    p.featureTol = v.featureTol.effective();
    p.imageTol = v.imageTol.effective();
    p.focus = v.focus.effective();
    c.percentile = v.percentile.effective();
    c.textureSize = v.texture.effective();
    c.textureExtra = 0;
    p.blendMode = v.blendMode.effective();
    p.fgSampling = v.fgSampling.effective();
    p.bgSampling = v.bgSampling.effective();
    p.spareC = 0.0f;
}

void DvInSession::refreshSuggestedEdgeSettings()
{
    m_variables.publish();
    sensitivity = 1.0f - m_variables.find("imageTol")->normalised;
    edgeWidth = m_variables.inFocusEdgeWidth.effective();
    edgeContrast = static_cast<unsigned char>(m_variables.edgeContrast.effective());
    texture = static_cast<unsigned char>(m_variables.textureFilter.effective());
}

void DvInSession::refreshDirtyArea()
{
    classification::DirtyArea& dirty = m_classification->dirty();
    if (dirty && !dirty->isEmpty()) {
        dirtyLeft = dirty->y1;
        dirtyTop = dirty->x1;
        dirtyWidth = dirty->y2 - dirty->y1 + 1;
        dirtyHeight = dirty->x2 - dirty->x1 + 1;
    } else {
        dirtyLeft = dirtyTop = dirtyWidth = dirtyHeight = 0;
    }
    dirty.reset();
}

void DvInSession::freeOutlines()
{
    m_outlines.clear();
    outlines = nullptr;
    outlineCount = 0;
}

bool DvInSession::fitsStatusImage(const DvImage& image) const
{
    const DvInSession* root = this;
    while (root->m_parent)
        root = root->m_parent;
    return image.width == root->width && image.height == root->height;
}

bool DvInSession::analysedHere() const
{
    // A sub-session with an analysis of its own never borrows its parent's.
    return analysed != 0 || (m_parent && !m_ownAnalysis && m_parent->analysed != 0);
}

// ---------------------------------------------------------------------------------------------
// Status arrays

void DvInSession::ensurePrivateStatus(DvInImage& image)
{
    if (!m_parent || m_statusViews.count(&image))
        return;
    const Rect& r = m_selection->rectangle;
    const IntPair size = corvath::utility::extent(r);
    auto copy = std::make_unique<DvInImage>(m_libraryRecord, size.y, size.x, false);
    const unsigned char* from = image.data + std::size_t(r.x1) * image.stride + r.y1;
    for (int i = 0; i < size.x; ++i)
        std::memcpy(copy->data + std::size_t(i) * copy->stride, from + std::size_t(i) * image.stride,
                    std::size_t(size.y));
    m_statusViews.emplace(&image, std::move(copy));
}

Bytes DvInSession::statusArrayFor(DvInImage& image)
{
    if (!m_parent)
        return image.bytes();
    ensurePrivateStatus(image);
    Bytes status = m_statusViews.at(&image)->bytes();
    const blitz::TinyVector<int, 2> origin(m_selection->rectangle.x1, m_selection->rectangle.y1);
    std::cerr << "status array's dimensions: " << status.lbound() << " - " << status.ubound() << "\n"
              << "Reindexing from " << status.lbound() << " to " << origin << "\n";
    status.reindexSelf(origin);
    return status;
}

// ---------------------------------------------------------------------------------------------
// Operations

DvResult DvInSession::takeBackStep(DvResult code, bool refreshDirty)
{
    try {
        classification::UndoStack& undo = m_classification->undoStack();
        undo.undo(m_classification->dirty());
        undo.clearRedo();
        m_classification->resetOperation();
        if (refreshDirty)
            refreshDirtyArea();
        return code;
    } catch (...) {
        markDead(this);
        return DvInternalFailure;
    }
}

DvResult DvInSession::abandonOperation(DvResult code)
{
    const classification::IiClassification::CommitState state = m_classification->commitState();
    if (state.withUndo)
        return takeBackStep(code, true);
    // The operation records no undo step, so the open step is the user's previous one and
    // stays. Once it has committed, the operation stands.
    if (!state.done)
        m_classification->resetOperation();
    refreshDirtyArea();
    return state.done ? DvOk : code;
}

template <typename Operation>
DvResult DvInSession::runOperation(DvInImage& image, const char* title, DvProgressFunction callback,
                                   Operation operation, bool withUndo)
{
    ensurePrivateStatus(image);
    // Known before the reporter's first report, which may already cancel.
    m_classification->beginOperation(withUndo);
    try {
        Bytes status = statusArrayFor(image);
        DvInProgress reporter(callback, title, true);
        ProgressRange range(&reporter);
        operation(status, range);
        refreshDirtyArea();
        return DvOk;
    } catch (const DvExCancel&) {
        return abandonOperation(DvCancelled);
    } catch (const std::bad_alloc&) {
        return abandonOperation(DvOutOfMemory);
    } catch (...) {
        markDead(this);
        return DvInternalFailure;
    }
}

DvResult DvInSession::select(DvInImage& image, const DvSelection& stroke, unsigned char newValue,
                             unsigned char matchTarget, int mode, float strength,
                             DvProgressFunction callback)
{
    if (mode != 0 && !analysedHere())
        return DvNoSegmentation;
    const SelectMasks masks = selectMasks(newValue, matchTarget, mode);
    const int level = truncatedStrength(strength);
    return runOperation(image, "Select", callback, [&](Bytes& status, ProgressRange& range) {
        const AreaRecord area = areaOf(stroke);
        ProgressRange child = range.nextStep(0.95f);
        m_classification->select(area.rectangle, area.bitmap ? &*area.bitmap : nullptr, status, mode,
                                 newValue, masks.write, matchTarget, masks.match, level, &child);
    }, classification::selectCommitsWithUndo(newValue, matchTarget));
}

DvResult DvInSession::autoComplex(DvInImage& image, float bandFactor, DvProgressFunction callback)
{
    if (!analysedHere())
        return DvNoSegmentation;
    return runOperation(image, "Auto complex", callback, [&](Bytes& status, ProgressRange& range) {
        m_classification->autoComplex(status, range.nextStep(1.0f), bandFactor);
    });
}

DvResult DvInSession::despeckleSelection(DvInImage& image, unsigned char level,
                                         DvProgressFunction callback)
{
    if (!analysedHere())
        return DvNoSegmentation;
    return runOperation(image, "Despeckle selection", callback,
                        [&](Bytes& status, ProgressRange& range) {
                            m_classification->despeckleSelection(status, level, range.nextStep(1.0f));
                        });
}

DvResult DvInSession::autoFill(DvInImage& image, const DvArea* area, unsigned char fillClass,
                               float bandFactor, DvProgressFunction callback)
{
    if (fillClass != 0 && fillClass != classification::StatusKeep &&
        fillClass != classification::StatusDelete)
        return DvRefused;
    if (area && m_parent)
        return DvRefused;
    std::optional<Rect> rect;
    if (area)
        rect = rectOf(area->left, area->top, area->width, area->height);
    const float band = analysedHere() ? bandFactor : 0.0f;
    return runOperation(image, "Auto fill", callback, [&](Bytes& status, ProgressRange& range) {
        const unsigned char fillFrom = fillClass ? fillClass : firstMarkedClass(status, rect);
        ProgressRange child = range.nextStep(1.0f);
        m_classification->autoFill(status, rect, fillFrom, band, &m_classification->undoStack(), &child);
    });
}

template <typename Incoming>
DvResult DvInSession::applyStatus(Incoming incoming, DvInImage& image, DvProgressFunction callback,
                                  bool report)
{
    ensurePrivateStatus(image);
    try {
        Bytes status = statusArrayFor(image);
        std::optional<DvInProgress> reporter;
        std::optional<ProgressRange> range;
        if (report) {
            reporter.emplace(callback, "SetStatus", true);
            range.emplace(&*reporter);
        }
        m_classification->setStatus(status, incoming());
        refreshDirtyArea();
        return DvOk;
    } catch (const DvExCancel&) {
        return takeBackStep(DvCancelled, false);
    } catch (const std::bad_alloc&) {
        return takeBackStep(DvOutOfMemory, false);
    } catch (...) {
        markDead(this);
        return DvInternalFailure;
    }
}

DvResult DvInSession::setStatus(DvInImage& image, const DvSelection& status, DvProgressFunction callback)
{
    // Status bytes of no pixel overlap nothing and change nothing.
    return applyStatus([&status] { return areaOf(status).bitmap.value_or(Bytes()); }, image, callback, true);
}

DvResult DvInSession::setStatusInSession(DvInImage& image)
{
    if (!m_parent)
        return DvRefused;
    m_parent->ensurePrivateStatus(image);
    return applyStatus([this, &image] { return m_parent->statusArrayFor(image); }, image, nullptr,
                       false);
}

DvResult DvInSession::setStatusInParent(DvInImage& image)
{
    if (!m_parent)
        return DvRefused;
    ensurePrivateStatus(image);
    return m_parent->applyStatus([this, &image] { return statusArrayFor(image); }, image,
                                 DvProgressCallback, true);
}

DvResult DvInSession::undo(DvProgressFunction callback)
{
    return replayStep(callback, "Undo", &classification::UndoStack::undo);
}

DvResult DvInSession::redo(DvProgressFunction callback)
{
    return replayStep(callback, "Redo", &classification::UndoStack::redo);
}

DvResult DvInSession::replayStep(DvProgressFunction callback, const char* title,
                                 void (classification::UndoStack::*replay)(classification::DirtyArea&))
{
    try {
        DvInProgress reporter(callback, title, false);
        ProgressRange range(&reporter);
        (m_classification->undoStack().*replay)(m_classification->dirty());
        m_classification->resetOperation();
        refreshDirtyArea();
        return DvOk;
    } catch (const std::bad_alloc&) {
        // The statuses may be half replayed: the session can no longer be trusted.
        markDead(this);
        return DvOutOfMemoryUntrusted;
    } catch (...) {
        markDead(this);
        return DvInternalFailure;
    }
}

DvResult DvInSession::beginUndoStep()
{
    m_classification->undoStack().beginStep();
    return DvOk;
}

// ---------------------------------------------------------------------------------------------
// Variables and analysis

DvResult DvInSession::prepareAnalysis(const DvEdgeOptions& options)
{
    try {
        m_variables.set("imageTol", 1.0f - options.sensitivity);
    } catch (const Variables::InvalidValue&) {
        return DvRefused;
    }
    m_variables.inFocusEdgeWidth.setClamped(float(options.edgeWidth));
    m_variables.edgeContrast.setClamped(options.edgeContrast);
    m_variables.textureFilter.setClamped(options.texture);
    m_variables.syncNormalised();
    m_variables.publish();
    return DvOk;
}

DvResult DvInSession::setVariable(const char* name, float value)
{
    if (m_parent || !name)
        return DvRefused;
    try {
        m_variables.set(name, value);
    } catch (const Variables::VariableNotFound&) {
        return DvRefused;
    } catch (const Variables::InvalidValue&) {
        return DvRefused;
    }
    refreshSuggestedEdgeSettings();
    return DvOk;
}

const DvVariable* DvInSession::findVariable(const char* name) { return m_variables.find(name); }

DvResult DvInSession::restoreVariables(DvResult code)
{
    try {
        m_variables.revert();
        m_variables.commitAll();
        refreshSuggestedEdgeSettings();
        applyVariables();
        return code;
    } catch (const std::bad_alloc&) {
        markDead(this);
        return DvOutOfMemoryUntrusted;
    } catch (...) {
        markDead(this);
        return DvInternalFailure;
    }
}

void DvInSession::publishAnalysisOutlines()
{
    const classification::IiClassification& c = *m_classification;
    m_outlines = classification::publishOutlines(classification::buildRegionOutlines(
        c.regionLabels, c.outlinePointRule, c.outlineSimplify, c.outlineSmoothing, c.parameters.imageTol));
    outlines = m_outlines.data();
    outlineCount = m_outlines.count();
}

DvResult DvInSession::analyseImage(DvProgressFunction callback)
{
    if (!m_ownAnalysis)
        return DvNoSegmentation;
    const bool unanalysed = analysed == 0;
    freeOutlines();
    analysed = 0;
    try {
        DvInProgress reporter(callback, "Analyse Image", true);
        ProgressRange range(&reporter);
        ProgressRange step = range.nextStep(0.9f);
        const AnalysisWork work = analysisWork(unanalysed, m_variables);
        if (work != AnalysisWork::None) {
            if (work == AnalysisWork::Rebuild)
                m_classification->requireNewEnvelopes();
            applyVariables();
            // A patch's bitmap keeps the pixels outside the patch out of every region.
            const Bytes* mask = m_selection && m_selection->bitmap ? &*m_selection->bitmap : nullptr;
            m_classification->analyse(step.nextStep(0.8f), mask);
        }
        analysed = 1;
        m_classification->outlinePointRule = m_variables.vMdPt.effective();
        m_classification->outlineSimplify = m_variables.vSmplf.effective();
        m_classification->outlineSmoothing = m_variables.vSmth.effective();
        publishAnalysisOutlines();
        m_variables.commitAll();
        m_variables.publish();
        for (DvInSession* child : m_children)
            if (!child->m_ownAnalysis)
                child->m_classification->adoptAnalysis(*m_classification);
        return DvOk;
    } catch (const DvExCancel&) {
        return abandonAnalysis(DvCancelled);
    } catch (const std::bad_alloc&) {
        return abandonAnalysis(DvOutOfMemory);
    } catch (...) {
        // The library is dead, but the public block still shows the committed settings.
        const DvResult restored = abandonAnalysis(DvInternalFailure);
        markDead(this);
        return restored == DvOutOfMemoryUntrusted ? restored : DvInternalFailure;
    }
}

DvResult DvInSession::abandonAnalysis(DvResult code)
{
    // Whatever the analysis left half-built is no analysis: the session is unanalysed, with
    // no outlines, until an analysis completes.
    analysed = 0;
    freeOutlines();
    return restoreVariables(code);
}
