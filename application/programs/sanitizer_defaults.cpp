// Sanitizer defaults of the programs, as the tests have them: the windowing plug-ins' start-up
// allocations that Qt never frees are not reported as leaks; our own code is never excluded.

extern "C" {

const char* __lsan_default_suppressions()
{
    // On X11 the platform plug-in also talks to D-Bus from a thread of Qt's, whose read buffer
    // it never frees.
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n"
           "leak:libdbus-1.so\n";
}

// Full allocation stacks, so that the suppressions above match frames deep inside Qt.
const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0:malloc_context_size=30";
}
}
