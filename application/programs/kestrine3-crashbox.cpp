// Started by the crash guard of a program that has crashed, with the text to show as its one
// argument. A separate process, since nothing may be trusted in the crashed one. The text
// always goes to standard error; a message box follows when there is a screen to show it on.
#include "document/Prompt.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool hasScreen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::strncmp(platform, "offscreen", 9) == 0)
        return false;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const char* text = argv[1];
    const std::size_t length = std::strlen(text);
    std::fputs(text, stderr);
    if (length == 0 || text[length - 1] != '\n')
        std::fputc('\n', stderr);
    std::fflush(stderr);
    if (!hasScreen())
        return 0;
    QApplication application(argc, argv);
    Prompt::critical(nullptr, QStringLiteral("Orlenth Kestrine 3"), QString::fromLocal8Bit(text));
    return 0;
}
