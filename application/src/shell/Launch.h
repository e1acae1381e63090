#pragma once
// How the program was started, what it hands back, and its process entry.

// Value 1 is never produced; every mode other than LaunchStandalone is a launch by a host.
enum LaunchMode {
    LaunchStandalone = 0,
    LaunchTunnel = 2,    // "--tn" and 8 more arguments: the image-editor plug-in's hand-over
    LaunchXmlTunnel = 3, // "--xmltn" and a control file
    LaunchAperture = 4   // "--aperture" and one image file, edited in place
};

// Written by the main window's close check; the exit code of a "--tn" launch.
enum HandBackStatus { HandBackApply = 0, HandBackDiscarded = 1, HandBackNothing = 2 };

// The exit code of a host launch whose applied result could not be written, copied or saved
// back: the caller must not take what lies at the destination for the result. Apart from the
// hand-back statuses, 11 and 12 (escaped exceptions) and 255 (crash).
constexpr int kExitHandBackFailed = 13;

// The mode of a command line; arguments are compared exactly and counted exactly.
LaunchMode launchModeFor(int argc, const char* const* argv);

// The program: "--about" alone shows the About box and returns 0; otherwise builds the
// application for the launch mode, runs it and returns the exit code (the hand-back status
// for "--tn", else the event loop's result; 11 when memory ran out, 12 for any other
// exception; kExitHandBackFailed when the result could not be handed back).
int kestrineMain(int argc, char** argv);
