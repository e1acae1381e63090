// Select: the painted pixels of a stroke (Exact) or the regions they reach (Regions, Local,
// Global) take the new status through the working array, then one commit.
#include "session/classification.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

using corvath::utility::covers;
using corvath::utility::domainOf;
using corvath::utility::intersect;

// A set of labels, one bit per label; negative labels are never members.
class LabelSet {
public:
    explicit LabelSet(int expected)
    {
        if (expected > 0)
            m_words.reserve((std::size_t(expected) + 63) / 64);
    }
    void insert(int label)
    {
        if (label < 0)
            return;
        const std::size_t w = std::size_t(label) >> 6;
        if (w >= m_words.size())
            m_words.resize(w + 1, 0);
        m_words[w] |= std::uint64_t(1) << (label & 63);
    }
    bool contains(int label) const
    {
        // A negative label becomes a word index beyond any set's size.
        const std::size_t w = std::size_t(unsigned(label)) >> 6;
        return w < m_words.size() && ((m_words[w] >> (label & 63)) & 1u);
    }

private:
    std::vector<std::uint64_t> m_words;
};

// What a select writes where its status filter lets it.
struct Rule {
    unsigned char target, match, write, value;
    bool passes(unsigned char s) const { return statusMatches(s, target, match); }
    unsigned char apply(unsigned char s) const { return setStatusBits(s, write, value); }
};

// Bounds of the pixels taken.
struct Bounds {
    long r1 = LONG_MAX, c1 = LONG_MAX, r2 = LONG_MIN, c2 = LONG_MIN;
    void add(long r, long c)
    {
        r1 = std::min(r1, r);
        r2 = std::max(r2, r);
        c1 = std::min(c1, c);
        c2 = std::max(c2, c);
    }
    void addRow(long r, long first, long last)
    {
        add(r, first);
        c2 = std::max(c2, last);
    }
    bool empty() const { return r1 > r2; }
    // As a rectangle of the coordinates that (0, 0) stands for origin in.
    Rect shifted(long x0, long y0) const
    {
        if (empty())
            return Rect::emptyValue();
        return {int(r1 + x0), int(c1 + y0), int(r2 + x0), int(c2 + y0)};
    }
};

// 4-connected floods over the working array. A pixel is packed as (row << shift | column)
// relative to the working frame's first element. The frame's 1s stop every flood at the image
// border, so neighbours need no bounds test, and the label and status arrays are read only
// after the working value has shown a pixel inside the image.
template <typename Index>
class Flood {
public:
    Flood(const Bytes& framedWorking, const Rect& image, const Bytes& statusArray, const Labels& labels,
          const Rule& rule, std::size_t reserve)
        : m_rule(rule), m_x0(image.x1 - 1), m_y0(image.y1 - 1)
    {
        m_work = const_cast<unsigned char*>(framedWorking.dataFirst());
        m_wRow = framedWorking.stride(0);
        m_wCol = framedWorking.stride(1);
        m_status = &statusArray(image.x1, image.y1);
        m_sRow = statusArray.stride(0);
        m_sCol = statusArray.stride(1);
        m_labels = &labels(image.x1, image.y1);
        m_lRow = labels.stride(0);
        m_lCol = labels.stride(1);
        m_shift = columnBits(image);
        m_columnMask = (Index(1) << m_shift) - 1;
        m_stack.reserve(reserve);
    }

    // Whether the frame's rows and columns pack into an Index.
    static bool fits(const Rect& image)
    {
        const int shift = columnBits(image);
        const std::uint64_t lastRow = std::uint64_t(image.x2 - image.x1) + 2;
        return shift < int(8 * sizeof(Index)) && (lastRow >> (8 * sizeof(Index) - shift)) == 0;
    }

    long row(int x) const { return long(x) - m_x0; }
    long column(int y) const { return long(y) - m_y0; }
    unsigned char& work(long r, long c) const { return m_work[r * m_wRow + c * m_wCol]; }
    unsigned char status(long r, long c) const { return m_status[(r - 1) * m_sRow + (c - 1) * m_sCol]; }
    int label(long r, long c) const { return m_labels[(r - 1) * m_lRow + (c - 1) * m_lCol]; }
    const Rule& rule() const { return m_rule; }
    Rect changed() const { return m_bounds.shifted(m_x0, m_y0); }
    const Bounds& bounds() const { return m_bounds; }

    // Marks (r, c) with its new status n (not 0) and queues it.
    void take(long r, long c, unsigned char n)
    {
        work(r, c) = n;
        m_bounds.add(r, c);
        m_stack.push_back((Index(r) << m_shift) | Index(c));
    }

    // Takes (r, c) when its working value is 0, accept(label) holds and its status passes.
    template <typename Accept>
    void visit(long r, long c, const Accept& accept)
    {
        if (work(r, c) || !accept(label(r, c)))
            return;
        const unsigned char s = status(r, c);
        if (!m_rule.passes(s))
            return;
        // A pixel whose new status would be 0 cannot be marked in the working array: it keeps
        // its status and carries no flood (it would otherwise be taken again and again).
        if (const unsigned char n = m_rule.apply(s))
            take(r, c, n);
    }

    template <typename Accept>
    void spread(const Accept& accept)
    {
        while (!m_stack.empty()) {
            const Index p = m_stack.back();
            m_stack.pop_back();
            const long r = long(p >> m_shift), c = long(p & m_columnMask);
            visit(r + 1, c, accept);
            visit(r - 1, c, accept);
            visit(r, c + 1, accept);
            visit(r, c - 1, accept);
        }
    }

private:
    static int columnBits(const Rect& image)
    {
        const std::uint64_t lastColumn = std::uint64_t(image.y2 - image.y1) + 2;
        int bits = 1;
        while ((lastColumn >> bits) != 0)
            ++bits;
        return bits;
    }

    Rule m_rule;
    long m_x0, m_y0;
    unsigned char* m_work;
    long m_wRow, m_wCol;
    const unsigned char* m_status;
    long m_sRow, m_sCol;
    const int* m_labels;
    long m_lRow, m_lCol;
    int m_shift;
    Index m_columnMask;
    Bounds m_bounds;
    std::vector<Index> m_stack;
};

// The eligible pixels of the clipped stroke start a flood each over their own label; with
// seeds, their labels are collected too.
template <typename Index>
void floodRegions(Flood<Index>& flood, const Rect& clip, const Bytes* mask, LabelSet* seeds)
{
    const Rule& rule = flood.rule();
    for (int x = clip.x1; x <= clip.x2; ++x) {
        const long r = flood.row(x);
        const unsigned char* m = mask ? &(*mask)(x, clip.y1) : nullptr;
        const long mStep = mask ? mask->stride(1) : 0;
        for (int y = clip.y1; y <= clip.y2; ++y) {
            const long c = flood.column(y);
            if (flood.work(r, c) || (m && !m[(y - clip.y1) * mStep]))
                continue;
            const unsigned char s = flood.status(r, c);
            if (!rule.passes(s))
                continue;
            const unsigned char n = rule.apply(s);
            if (!n)
                continue;
            const int seed = flood.label(r, c);
            if (seeds)
                seeds->insert(seed);
            flood.take(r, c, n);
            flood.spread([seed](int l) { return l == seed; });
        }
    }
}

// From every flooded pixel into the neighbouring pixels whose labels are in the set.
template <typename Index>
void growThroughLabels(Flood<Index>& flood, const LabelSet& labels)
{
    const Bounds b = flood.bounds();
    if (b.empty())
        return;
    const auto inSet = [&labels](int l) { return labels.contains(l); };
    for (long r = b.r1; r <= b.r2; ++r)
        for (long c = b.c1; c <= b.c2; ++c)
            if (flood.work(r, c)) {
                flood.visit(r + 1, c, inSet);
                flood.visit(r - 1, c, inSet);
                flood.visit(r, c + 1, inSet);
                flood.visit(r, c - 1, inSet);
                flood.spread(inSet);
            }
}

// Rows of the clipped stroke, with the stroke mask's row or none.
template <typename F>
void forStrokeRows(const Rect& clip, const Bytes* mask, F f)
{
    for (int x = clip.x1; x <= clip.x2; ++x) {
        const unsigned char* m = mask ? &(*mask)(x, clip.y1) : nullptr;
        f(x, m, mask ? mask->stride(1) : 0L);
    }
}

// Row x of the working array over y1..y2 takes the rule's value where take(j) holds for the
// j-th pixel and the status passes, 0 elsewhere; the row's taken span joins `taken`.
template <typename Take>
void writeTakenRow(int x, int y1, int y2, const unsigned char* s, long sStep, unsigned char* w, long wStep,
                   const Rule& rule, Bounds& taken, Take take)
{
    long first = -1, last = -1;
    for (int y = y1, j = 0; y <= y2; ++y, ++j, s += sStep, w += wStep) {
        const unsigned char n = take(j) && rule.passes(*s) ? rule.apply(*s) : 0;
        *w = n;
        if (n) {
            if (first < 0)
                first = y;
            last = y;
        }
    }
    if (first >= 0)
        taken.addRow(x, first, last);
}

} // namespace

void IiClassification::select(const Rect& stroke, const Bytes* strokeMask, Bytes& status, int selectMode,
                              unsigned char value, unsigned char write, unsigned char target,
                              unsigned char match, int strength, ProgressRange* progress)
{
    // Forced edges and protection are not undoable; a value equal to its target commits nothing.
    const bool notUndoable = selectSetsEdgesOrProtection(value, target);
    beginOperation(selectCommitsWithUndo(value, target));

    const Rect image = imageRect();
    if (domainOf(status) != image)
        throw std::invalid_argument("the status array does not cover the image");

    if (selectMode != SelectExact)
        chooseLevel(std::clamp(strength, 0, 7) - 1, progress);

    newValue = value;
    writeMask = write;
    matchTarget = target;
    matchMask = match;
    mode = selectMode;
    m_changed = Rect::emptyValue();

    ProgressRange rest;
    if (progress) {
        rest = ProgressRange(progress->parent, progress->at(progress->position), progress->at(1.0f));
        progress->position = 1.0f;
    }

    Rect clip = intersect(stroke, image);
    if (strokeMask)
        clip = intersect(clip, domainOf(*strokeMask));
    const Rule rule{target, match, write, value};

    switch (selectMode) {
    case SelectExact: {
        const long sStep = status.stride(1), wStep = m_working.stride(1);
        Bounds taken;
        if (!clip.isEmpty())
            forStrokeRows(clip, strokeMask, [&](int x, const unsigned char* m, long mStep) {
                writeTakenRow(x, clip.y1, clip.y2, &status(x, clip.y1), sStep, &m_working(x, clip.y1), wStep,
                              rule, taken, [m, mStep](int j) { return !m || m[j * mStep]; });
            });
        m_changed = taken.shifted(0, 0);
        rest.report("", 0.5f);
        break;
    }
    case SelectRegions:
    case SelectLocal:
    case SelectGlobal: {
        const bool fine = &floodLabels() == &regionLabels;
        const Labels& labels = selectMode == SelectGlobal ? levelLabels : floodLabels();
        if (labels.numElements() == 0 || !covers(domainOf(labels), image))
            throw std::logic_error("no region labels cover the image");
        if (selectMode == SelectGlobal)
            selectGlobal(clip, strokeMask, status, labels, rest);
        else if (Flood<std::uint32_t>::fits(image))
            floodSelect<std::uint32_t>(clip, strokeMask, status, labels, selectMode == SelectLocal && !fine,
                                       rest);
        else
            floodSelect<std::uint64_t>(clip, strokeMask, status, labels, selectMode == SelectLocal && !fine,
                                       rest);
        break;
    }
    default:
        break;
    }

    if (value != target)
        recordStatusUndo(status, notUndoable ? nullptr : &m_undo);
    m_commit.done = true;
    rest.report("", 1.0f);
}

template <typename Index>
void IiClassification::floodSelect(const Rect& clip, const Bytes* strokeMask, const Bytes& status,
                                   const Labels& labels, bool growLocal, ProgressRange& rest)
{
    if (clip.isEmpty()) {
        rest.report("", 0.5f);
        return;
    }
    m_working = 0;
    const Rect image = imageRect();
    const std::size_t pixels = std::size_t(image.x2 - image.x1 + 1) * std::size_t(image.y2 - image.y1 + 1);
    const Rule rule{matchTarget, matchMask, writeMask, newValue};
    Flood<Index> flood(m_framedWorking, image, status, labels, rule, std::min<std::size_t>(pixels, 1u << 16));
    if (!growLocal) {
        floodRegions(flood, clip, strokeMask, nullptr);
        m_changed = flood.changed();
        rest.report("", 0.5f);
        return;
    }
    LabelSet touched(regionCount);
    floodRegions(flood, clip, strokeMask, &touched);
    rest.report("", 0.25f);
    growThroughLabels(flood, touched);
    m_changed = flood.changed();
    rest.report("", 0.75f);
}

void IiClassification::selectGlobal(const Rect& clip, const Bytes* strokeMask, const Bytes& status,
                                    const Labels& labels, ProgressRange& rest)
{
    const Rule rule{matchTarget, matchMask, writeMask, newValue};
    const long sStep = status.stride(1), lStep = labels.stride(1), wStep = m_working.stride(1);

    LabelSet touched(regionCount);
    if (!clip.isEmpty())
        forStrokeRows(clip, strokeMask, [&](int x, const unsigned char* m, long mStep) {
            const unsigned char* s = &status(x, clip.y1);
            const int* l = &labels(x, clip.y1);
            for (int y = clip.y1, j = 0; y <= clip.y2; ++y, ++j, s += sStep, l += lStep)
                if ((!m || m[j * mStep]) && rule.passes(*s))
                    touched.insert(*l);
        });
    rest.report("", 0.25f);

    const Rect image = imageRect();
    Bounds taken;
    for (int x = image.x1; x <= image.x2; ++x) {
        const int* l = &labels(x, image.y1);
        writeTakenRow(x, image.y1, image.y2, &status(x, image.y1), sStep, &m_working(x, image.y1), wStep, rule,
                      taken, [&touched, l, lStep](int j) { return touched.contains(l[j * lStep]); });
    }
    m_changed = taken.shifted(0, 0);
    rest.report("", 0.75f);
}

} // namespace classification
