// A small host for the plug-in: loads the library, checks its property list, finds its entry
// point and drives a selector sequence on a layer of its own, in fresh folders with the given
// program registered as the application. Prints each call's result, the output buffer's state
// and the plug-in's log; the exit status is 0 when the library loaded, its list is right and
// every call returned 0.
//
//   tunnelry_host MODULE APPLICATION [--mode rgb|cmyk|rgb48|cmyk64] [--size WIDTHxHEIGHT]
//                 [--selectors about,prepare,start,finish] [--title TEXT] [--show-log]

#include "host_session.h"
#include "plugin_module.h"
#include "scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: tunnelry_host MODULE APPLICATION [--mode rgb|cmyk|rgb48|cmyk64] [--size WIDTHxHEIGHT]\n"
                 "                     [--selectors about,prepare,start,finish] [--title TEXT] [--show-log]\n";
    return 2;
}

bool parseMode(const std::string& text, int16_t& mode, int16_t& planes)
{
    struct Mode {
        const char* name;
        int16_t mode;
        int16_t planes;
    };
    const Mode modes[] = {{"rgb", kImageModeRGB, 4},
                          {"cmyk", kImageModeCMYK, 5},
                          {"rgb48", kImageModeRGB48, 4},
                          {"cmyk64", kImageModeCMYK64, 5}};
    for (const Mode& m : modes) {
        if (text == m.name) {
            mode = m.mode;
            planes = m.planes;
            return true;
        }
    }
    return false;
}

bool parseSize(const std::string& text, int32_t& width, int32_t& height)
{
    char x = 0;
    std::istringstream in(text);
    long w = 0, h = 0;
    if (!(in >> w >> x >> h) || x != 'x' || w < 0 || h < 0 || w > 30000 || h > 30000 || !in.eof())
        return false;
    width = int32_t(w);
    height = int32_t(h);
    return true;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string modulePath = argv[1];
    const std::string application = argv[2];
    int16_t mode = kImageModeRGB;
    int16_t planes = 4;
    int32_t width = 64;
    int32_t height = 48;
    std::vector<int16_t> selectors = {kSelectorAbout, kSelectorPrepare, kSelectorStart, kSelectorFinish};
    bool showLog = false;
    bool hasTitle = false;
    std::string title;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--mode" && hasValue) {
            if (!parseMode(argv[++i], mode, planes))
                return usage();
        } else if (option == "--size" && hasValue) {
            if (!parseSize(argv[++i], width, height))
                return usage();
        } else if (option == "--selectors" && hasValue) {
            selectors.clear();
            for (const std::string& name : split(argv[++i], ',')) {
                int16_t selector;
                if (!parseSelector(name, selector))
                    return usage();
                selectors.push_back(selector);
            }
        } else if (option == "--title" && hasValue) {
            hasTitle = true;
            title = argv[++i];
        } else if (option == "--show-log") {
            showLog = true;
        } else {
            return usage();
        }
    }

    Scenario scenario(application);
    if (!scenario.isReady()) {
        std::cerr << "tunnelry_host: cannot make the scenario's folders\n";
        return 1;
    }
    PluginModule module;
    if (!module.load(modulePath)) {
        std::cerr << "tunnelry_host: " << module.error() << "\n";
        return 1;
    }
    bool ok = true;
    const std::vector<std::string> problems = module.checkPropertyList();
    for (const std::string& problem : problems)
        std::cout << "property list: " << problem << "\n";
    ok = ok && problems.empty();
    const PluginEntryProc entry = module.entry();
    if (!entry) {
        std::cout << "entry point: not found\n";
        return 1;
    }

    FakeHost host;
    host.setLayer(mode, planes, width, height, true);
    host.hasTitle = hasTitle;
    host.title = title;
    HostSession session(entry, host);
    for (const int16_t selector : selectors) {
        const int16_t result = session.call(selector);
        std::cout << selectorName(selector) << ": " << result << (session.data ? " (object kept)" : "") << "\n";
        ok = ok && result == 0;
    }
    std::cout << "outData: " << outputStateName(outputState(host)) << "\n";
    if (showLog)
        std::cout << scenario.logText();
    return ok ? 0 : 1;
}
