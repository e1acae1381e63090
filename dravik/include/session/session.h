#pragma once
// The engine objects behind the call interface's handles: the library record, sessions and
// sub-sessions, and status images. All sessions of one library index their arrays in the
// top session's coordinates: a sub-session's image view, status arrays and working state
// start at its patch's origin.

#include "session/classification.h"
#include "outline/outline.h"
#include "session/variables.h"
#include "dravik.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class DvInSession;
class DvInImage;

namespace dravik {
constexpr std::uint32_t handleMagic = 0xFFFFFFFB;
} // namespace dravik

struct DvLibrary {
    std::uint32_t magic = dravik::handleMagic;
    std::set<DvInSession*> sessions;
    std::set<DvInImage*> images;
    unsigned char dead = 0;
    // Set while an entry runs on the library; read and written under the handle registry's lock.
    bool busy = false;
};

namespace dravik {

// Every library, session and status image of the process while it lives. Handles are looked
// up here before anything behind them is read, so stale, foreign and junk pointers are
// refused without touching their memory. Thread-safe.
enum class HandleKind { Library, Session, Image };
void registerHandle(const void* handle, HandleKind kind, DvLibrary* library);  // may throw bad_alloc
void unregisterHandle(const void* handle);

// Handle checks in the interface's order; 0 when the handle may be used.
DvResult validateImage(const DvImage* image);            // 9
DvResult validateSession(const DvSession* session);      // 6, 7, 5
DvResult validateLibrary(const DvLibrary* library);      // 7, 5

// Validates an entry's handles and claims their library until the claim ends: an entry called
// while another entry of the same library runs (from a progress callback or another thread)
// is refused with 1 and changes nothing.
class EntryClaim {
public:
    EntryClaim() = default;
    ~EntryClaim() { release(); }
    EntryClaim(const EntryClaim&) = delete;
    EntryClaim& operator=(const EntryClaim&) = delete;

    DvResult library(DvLibrary* library);                              // 7, 5, 1
    DvResult session(const DvSession* session);                        // 6, 5, 1
    DvResult image(const DvImage* image);                              // 9, 1
    // The image first; an image of another library than the session's is refused with 9.
    DvResult imageAndSession(const DvImage* image, const DvSession* session);  // 9, 6, 5, 1
    // The claimed library is being freed: nothing is released at the end.
    void forget() { m_claimed = nullptr; }

private:
    DvResult claim(DvLibrary* library);
    void release();

    DvLibrary* m_claimed = nullptr;
};
// Sets the dead byte when the handle and its library are sound and not dead already.
void markDead(const DvSession* session);
void markDead(DvLibrary* library);

// Destroys every session (each sub-session before its parent) and status image of a library,
// then the record itself; nothing of it may be used afterwards.
void destroyLibrary(DvLibrary* library);

// Bytes per pixel of a descriptor's pixel type; 0 for an unknown type.
int bytesPerPixel(int pixelType);

// A stroke, patch or area as the operations take it: an inclusive rectangle, rows first, and
// optionally a bitmap over the caller's bytes indexed in the rectangle's own coordinates.
struct AreaRecord {
    classification::Rect rectangle;
    std::optional<classification::Bytes> bitmap;
};
// Validates nothing; a width or height of 0 or less gives an empty rectangle. Clipped to
// +-positionLimit on both axes, which no image reaches.
constexpr int positionLimit = 1 << 29;
AreaRecord areaOf(const DvSelection& selection);
// A selection whose bytes can be read within its own rows.
bool readableSelection(const DvSelection& selection);

// The write mask and match mask of a select for its new value, match target and mode.
struct SelectMasks {
    unsigned char write;
    unsigned char match;
};
SelectMasks selectMasks(unsigned char newValue, unsigned char matchTarget, int mode);

// The factor (1, 2, 4 or 8) between a full-resolution image and the status image of its
// session, from the ratio of the sizes less one: heights, or widths where the heights
// cannot decide.
int resolutionFactor(int fullWidth, int fullHeight, int statusWidth, int statusHeight);
// Whether reducing the full-resolution size by the factor (rounding up, as the scaling entry's
// callers size their destination) gives the status image's size. Any other pair has no pixel
// mapping between the two images.
bool factorRelatesSizes(int fullWidth, int fullHeight, int statusWidth, int statusHeight, int factor);
// The area of a mask generation in session coordinates (absent: the whole image), clipped to
// the width x height session image.
classification::Rect maskArea(const DvArea* area, int width, int height);

// How much an analysis must recompute.
enum class AnalysisWork { None, Rerun, Rebuild };
AnalysisWork analysisWork(bool unanalysed, const Variables& variables);

} // namespace dravik

class DvInImage : public DvImage {
public:
    // A status image of width x height, zero-filled, rows rounded up to 4 bytes. A registered
    // image lives on its library's set until the library is finished.
    DvInImage(DvLibrary* library, int width, int height, bool registered);
    virtual ~DvInImage();
    DvInImage(const DvInImage&) = delete;
    DvInImage& operator=(const DvInImage&) = delete;

    // The status bytes as an array indexed from 0.
    classification::Bytes bytes() const;

private:
    std::unique_ptr<unsigned char[]> m_allocation;
    int m_alignment = 4;
    bool m_registered;
};

class DvInSession : public DvSession {
public:
    // A session over the caller's RGBA pixels, registered on the library once built.
    DvInSession(DvLibrary* library, const DvImageDesc& image, DvProgressFunction callback);
    // A sub-session for a patch inside the parent's image (the caller checks that it is). The
    // patch bitmap's bytes must outlive the sub-session.
    DvInSession(DvInSession* parent, const dravik::AreaRecord& patch, bool ownAnalysis,
                DvProgressFunction callback);
    // Ends the remaining sub-sessions first.
    virtual ~DvInSession();
    DvInSession(const DvInSession&) = delete;
    DvInSession& operator=(const DvInSession&) = delete;

    DvInSession* parentSession() const { return m_parent; }
    DvLibrary* libraryRecord() const { return m_libraryRecord; }
    const std::vector<DvInSession*>& children() const { return m_children; }
    bool ownAnalysis() const { return m_ownAnalysis; }
    // Status images have the size of the top session's image.
    bool fitsStatusImage(const DvImage& image) const;
    // The session or its parent has been analysed.
    bool analysedHere() const;

    DvResult analyseImage(DvProgressFunction callback);
    DvResult select(DvInImage& image, const DvSelection& stroke, unsigned char newValue,
                    unsigned char matchTarget, int mode, float strength, DvProgressFunction callback);
    DvResult autoComplex(DvInImage& image, float bandFactor, DvProgressFunction callback);
    DvResult despeckleSelection(DvInImage& image, unsigned char level, DvProgressFunction callback);
    DvResult autoFill(DvInImage& image, const DvArea* area, unsigned char fillClass,
                      float bandFactor, DvProgressFunction callback);
    DvResult setStatus(DvInImage& image, const DvSelection& status, DvProgressFunction callback);
    DvResult setStatusInSession(DvInImage& image);
    DvResult setStatusInParent(DvInImage& image);
    DvResult undo(DvProgressFunction callback);
    DvResult redo(DvProgressFunction callback);
    // Undo or redo of one step, with the reporter, reset and failure codes they share.
    DvResult replayStep(DvProgressFunction callback, const char* title,
                        void (classification::UndoStack::*replay)(classification::DirtyArea&));
    DvResult beginUndoStep();
    DvResult prepareAnalysis(const DvEdgeOptions& options);
    // Generates the mask over the area (session coordinates, clipped to the status image) into
    // the cut-out, the status image being reduced by factor; the cut-out changes only when the
    // result is 0. 10 when the session needs its own analysis and has none.
    DvResult generateMask(const DvImageDesc& cutOut, const DvImageDesc& source, DvInImage& status,
                          const classification::Rect& area, int factor, const DvForcedEdge* edges,
                          int edgeCount, float bandFactor, float level, const DvMaskPatch* patches,
                          int patchCount);
    DvResult setVariable(const char* name, float value);
    // Null for an unknown name.
    const DvVariable* findVariable(const char* name);

    // For a session, a view of the status image; for a sub-session, its private copy of the
    // statuses under the patch, made on first use, indexed from the patch's origin.
    classification::Bytes statusArrayFor(DvInImage& image);

    classification::IiClassification& classification() { return *m_classification; }
    classification::Rect imageRect() const { return m_classification->imageRect(); }
    dravik::Variables& variableTable() { return m_variables; }

private:
    DvInSession(DvLibrary* library, DvInSession* parent, const classification::RgbaView8& view,
                const char* title, DvProgressFunction callback, bool ownAnalysis);

    // Sizes, commits, publishes and applies the variables for an image of the given size.
    void initialiseVariables(int width, int height);
    void applyVariables();
    void refreshSuggestedEdgeSettings();
    void refreshDirtyArea();
    void registerSession();
    void freeOutlines();
    // Makes a sub-session's private status copy for the image if it has none; an allocation
    // failure here is not an operation's failure.
    void ensurePrivateStatus(DvInImage& image);
    // The failure path of an operation: its undo step taken back and its records discarded.
    DvResult takeBackStep(DvResult code, bool refreshDirty);
    // The failure path of a classification operation: takes back its step, unless it commits
    // without the undo stack (then nothing is taken back, and a failure after its commit is
    // ignored).
    DvResult abandonOperation(DvResult code);
    DvResult restoreVariables(DvResult code);
    // The failure path of an analysis: unanalysed, no outlines, the variables restored.
    DvResult abandonAnalysis(DvResult code);
    // Traces the region labels of the analysis into the public outlines.
    void publishAnalysisOutlines();
    // Runs set status on this session's statuses for the image with the statuses that
    // incoming() gives.
    template <typename Incoming>
    DvResult applyStatus(Incoming incoming, DvInImage& image, DvProgressFunction callback,
                         bool report);
    // withUndo: whether the operation commits with the session's undo stack.
    template <typename Operation>
    DvResult runOperation(DvInImage& image, const char* title, DvProgressFunction callback,
                          Operation operation, bool withUndo = true);

    DvLibrary* m_libraryRecord;
    DvInSession* m_parent;
    classification::RgbaView8 m_image;
    DvInProgress m_progress;
    ProgressRange m_rootRange;
    std::unique_ptr<classification::IiClassification> m_classification;
    dravik::Variables m_variables;
    std::vector<DvInSession*> m_children;
    std::optional<dravik::AreaRecord> m_selection;
    std::map<const DvInImage*, std::unique_ptr<DvInImage>> m_statusViews;
    bool m_ownAnalysis;
    // The records behind the public outlines.
    classification::OutlineRecords m_outlines;
};
