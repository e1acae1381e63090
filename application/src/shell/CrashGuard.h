#pragma once
// Runs the program under the crash guard: the dump goes next to the run's log with the same
// name stem, and kestrine3-crashbox (beside the program) tells the user.

using GuardedMain = int (*)(int argc, char** argv);

// Arms the guard, then returns guardedMain's result. After a crash the process ends with
// status 255 instead.
int runGuarded(int argc, char** argv, GuardedMain guardedMain);

// The texts the user sees after a crash, with and without a dump.
const char* crashMessageShort();
const char* crashMessageLong();
