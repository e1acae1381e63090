#include "platform/host_ui.h"

#include <iostream>

namespace platform {

namespace {

MessageLogHook g_logHook = nullptr;

class StandardErrorSink : public MessageSink {
public:
    bool showMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        const std::string line =
            caption + (icon == MessageIcon::Error ? " (error): " : ": ") + text;
        std::cerr << line << std::endl;
        if (g_logHook)
            g_logHook(line);
        return true;
    }
};

class NoWindowProvider : public WindowProvider {
public:
    HostWindow* activeWindow() override { return nullptr; }
};

StandardErrorSink g_defaultSink;
NoWindowProvider g_defaultProvider;
MessageSink* g_sink = nullptr;
WindowProvider* g_provider = nullptr;

} // namespace

MessageSink& messageSink()
{
    return g_sink ? *g_sink : g_defaultSink;
}

void setMessageSink(MessageSink* sink)
{
    g_sink = sink;
}

void setMessageLogHook(MessageLogHook hook)
{
    g_logHook = hook;
}

WindowProvider& windowProvider()
{
    return g_provider ? *g_provider : g_defaultProvider;
}

void setWindowProvider(WindowProvider* provider)
{
    g_provider = provider;
}

} // namespace platform
