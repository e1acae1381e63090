#pragma once
// Starting other programs: the command line, waiting for the exit code or starting without
// waiting, and the checks made before a start.

#include <string>
#include <vector>

namespace platform {

// Removes every double quote from the text and wraps the rest in one pair of double quotes.
std::string quoteArgument(const std::string& text);

// The one rule by which a process start reads its command line: blanks (space, tab)
// separate arguments, a double-quoted span groups (blanks inside it kept), the quotes are
// dropped, there are no escapes. A quoted empty span is an empty argument. Joining
// quoteArgument results with single blanks is the exact inverse.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Starts `program` (a path; no search) with the arguments of `commandLine`, argv[0] included,
// and waits for it to end. Only the listed descriptors are handed over, at the same numbers,
// beside those the caller left without close-on-exec; the child starts with an empty signal
// mask and default signal actions. Returns the exit status; -1 for status 255, death by a
// signal, or when the start or the wait failed (errno then says why).
int runProcessAndWait(const std::string& program, const std::string& commandLine,
                      const std::vector<int>& inheritedDescriptors);

// Starts `program` the same way without waiting and without leaving a zombie behind: an
// intermediate child starts it and ends at once, so init reaps it. Returns true once the
// program has been executed; false with errno when the start failed.
bool startDetachedProcess(const std::string& program, const std::string& commandLine);

// True for an executable regular file holding an ELF program (class 32 or 64, type
// executable or shared object). Scripts and other files fail.
bool isExecutableProgram(const std::string& path);

// Major number of the operating system's release (the kernel's), or -1 when unknown.
int osMajorVersion();

// Tests substitute the release text that osMajorVersion reads; nullptr restores the real one.
void setOsReleaseOverride(const char* release);

} // namespace platform
