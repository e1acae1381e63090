#pragma once
// The stand-in for the application in the plug-in's tests: a program that takes a hand-over
// like the application, reports what it received and ends the way the test asks.
//
// Environment:
//   FAKE_APP_MODE     "apply" (writes fakeApplied of the source into the result mapping,
//                     exits 0), "echo" (copies the source into the result, exits 0),
//                     "exit:N", "segv" (dies by SIGSEGV), "about" (waits for the release
//                     file, then exits 0); unset: exits 0 without writing.
//   FAKE_APP_REPORT   file that receives the report (key=value lines); else standard output.
//   FAKE_APP_PROBE    comma-separated descriptor numbers reported as open or closed.
//   FAKE_APP_RELEASE  file whose appearance ends an "about" run.
//
// Report keys: argc, argv[i], for "result" and "source" (argv[2], argv[3]) .handle, .open,
// .cloexec, .size; same (source and result hold equal bytes at start), probe.N, then
// "ready=1" once the report is complete and, for "about", "ended=1" on the way out.

#include <cstddef>
#include <fstream>
#include <map>
#include <string>

inline unsigned char fakeApplied(unsigned char sourceByte)
{
    return static_cast<unsigned char>(255 - sourceByte);
}

// The report as a map from key to value; a later line of a key wins.
inline std::map<std::string, std::string> readFakeReport(const std::string& path)
{
    std::map<std::string, std::string> values;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}
