#include "session/progress.h"

#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace corvath::utility {

std::string timedBlockText(const char* file, int line, const char* label, double seconds)
{
    // Built without a stream: a stream swallows a failed allocation and hands back a cut text,
    // where the analysis must learn that memory ran out.
    char number[32];
    std::snprintf(number, sizeof number, "%g", seconds);
    std::string text(file);
    text += ": ";
    text += std::to_string(line);
    text += ":\n(before [";
    text += label;
    text += "]): ";
    text += number;
    return text;
}

} // namespace corvath::utility

ProgressRange::ProgressRange(corvath::utility::IiUI* p) : parent(p)
{
    if (parent)
        parent->progress(0.f, std::string());
}

void ProgressRange::report(const std::string& text, float fraction)
{
    position = fraction;
    if (parent)
        parent->progress((1.f - fraction) * lo + fraction * hi, text);
}

ProgressRange ProgressRange::nextStep(float upTo)
{
    ProgressRange child(parent, at(position), at(upTo));
    position = upTo;
    return child;
}

DvInProgress::DvInProgress(DvProgressFunction callback, std::string title, bool cancellable)
    : m_callback(callback), m_cancellable(cancellable), m_title(std::move(title))
{
    m_start = m_lastReport = m_lap = m_lastCallback = platform::counterNanoseconds();
}

DvInProgress::~DvInProgress()
{
    m_cancellable = false;
    if (m_active && m_lastFraction < 1.0f && !m_cancelled) {
        try {
            progress(1.0f, "auto-destruct");
        } catch (...) {
            // Not cancellable any more; a throwing client must not escape a destructor.
        }
    }
    m_lastReport = platform::counterNanoseconds();
}

void DvInProgress::restart()
{
    m_cancellable = false;
    m_cancelled = false;
    m_lastFraction = 0.f;
    m_start = m_lastReport = m_lap = m_lastCallback = platform::counterNanoseconds();
    m_title.clear();
}

double DvInProgress::lap()
{
    const std::int64_t now = platform::counterNanoseconds();
    const double s = platform::counterSeconds(m_lap, now);
    m_lap = now;
    return s;
}

void DvInProgress::progress(float fraction, const std::string&)
{
    m_lastFraction = fraction;
    if (!m_callback)
        return;
    const std::int64_t now = platform::counterNanoseconds();
    int answer = 0;
    if (platform::counterSeconds(m_lastCallback, now) > 0.1 || fraction == 1.0f) {
        // Kept within 0..100 so that a stray fraction cannot wrap around in the byte.
        const int percent = std::clamp(int(fraction * 100.0), 0, 100);
        answer = m_callback(static_cast<unsigned char>(percent), m_context);
        m_lastCallback = platform::counterNanoseconds();
    }
    if (answer == DvProgressAbort && m_cancellable && !m_cancelled) {
        m_cancellable = false;
        m_cancelled = true;
        throw DvExCancel();
    }
    m_lastReport = platform::counterNanoseconds();
}
