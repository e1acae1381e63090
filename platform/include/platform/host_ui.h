#pragma once
// What a library loaded into another program's process shows of itself: messages meant for a
// box, and the host's window while something else runs. Both are replaceable, so that tests
// capture messages and drive a window of their own.

#include <string>

namespace platform {

enum class MessageIcon { Error, Information };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows `text` under `caption`; returns true when the user accepted (OK).
    virtual bool showMessage(const std::string& caption, const std::string& text, MessageIcon icon) = 0;
};

// The sink in use. The default writes the message to the standard error stream and hands a
// copy to the message log hook; it always answers OK.
MessageSink& messageSink();
// nullptr restores the default. The caller keeps ownership.
void setMessageSink(MessageSink* sink);

// Where the default sink logs its messages as one line each; nullptr logs nowhere.
using MessageLogHook = void (*)(const std::string& line);
void setMessageLogHook(MessageLogHook hook);

// A top-level window of the host.
class HostWindow {
public:
    virtual ~HostWindow() = default;
    virtual void minimise() = 0;
    virtual void hide() = 0;
    // Shows the window again as it was before it was minimised.
    virtual void restore() = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class WindowProvider {
public:
    virtual ~WindowProvider() = default;
    // The calling thread's active window, or nullptr when it has none.
    virtual HostWindow* activeWindow() = 0;
};

// The provider in use. The default has no active window: on Linux a library cannot reach
// the host's windows.
WindowProvider& windowProvider();
// nullptr restores the default. The caller keeps ownership.
void setWindowProvider(WindowProvider* provider);

} // namespace platform
