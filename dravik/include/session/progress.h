#pragma once
// Progress reporting and cancel. An operation reports fractions 0..1 through IiUI;
// nested work reports through ProgressRange values that map into the parent's range.

#include "dravik.h"

#include <cstdint>
#include <string>

// The exception of a cancel; carries nothing.
struct DvExCancel {};

namespace corvath::utility {

class IiUI {
public:
    // May throw DvExCancel.
    virtual void progress(float fraction, const std::string& text) = 0;
    virtual ~IiUI() = default;
};

// The text of a timed block: the source position, its label and the seconds elapsed.
// Engine timings travel with progress reports and are never shown to the client.
std::string timedBlockText(const char* file, int line, const char* label, double seconds);

} // namespace corvath::utility

struct ProgressRange {
    corvath::utility::IiUI* parent = nullptr;
    float lo = 0.f;
    float hi = 1.f;
    float position = 0.f;

    ProgressRange() = default;
    // Reports 0 to the parent at once.
    explicit ProgressRange(corvath::utility::IiUI* parent);
    ProgressRange(corvath::utility::IiUI* parent, float lo, float hi, float position = 0.f)
        : parent(parent), lo(lo), hi(hi), position(position) {}

    float at(float t) const { return (1.f - t) * lo + t * hi; }
    void report(const std::string& text, float fraction);
    // The child range from the current position up to upTo; this range moves on to upTo.
    ProgressRange nextStep(float upTo);
};

// Passes reports on to a parent, never below the highest fraction passed so far: an
// operation whose steps are laid out over overlapping shares still shows the client a bar
// that only rises. Every report still reaches the parent, so a cancel is seen at once.
class RisingReporter : public corvath::utility::IiUI {
public:
    explicit RisingReporter(corvath::utility::IiUI* parent) : m_parent(parent) {}
    void progress(float fraction, const std::string& text) override
    {
        if (fraction > m_highest)
            m_highest = fraction;
        if (m_parent)
            m_parent->progress(m_highest, text);
    }

private:
    corvath::utility::IiUI* m_parent;
    float m_highest = 0.f;
};

// The reporter at the top of one engine call: throttles reports to one per 0.1 s (the final
// 100 percent always goes through), calls the client's callback and turns its "abort" into
// DvExCancel, once.
class DvInProgress : public corvath::utility::IiUI {
public:
    DvInProgress(DvProgressFunction callback, std::string title, bool cancellable);
    ~DvInProgress() override;

    void progress(float fraction, const std::string& text) override;
    // Used once a session has been built: no longer cancellable, clock and title reset.
    void restart();

    float lastFraction() const { return m_lastFraction; }
    bool cancelled() const { return m_cancelled; }
    // Seconds since the previous lap (or construction), for timed-block texts.
    double lap();

private:
    DvProgressFunction m_callback;
    void* m_context = nullptr;
    float m_lastFraction = 0.f;
    bool m_cancellable;
    bool m_cancelled = false;
    std::int64_t m_start, m_lastReport, m_lap, m_lastCallback;
    std::string m_title;
    bool m_active = true;
};
