// Sanitizer defaults of the programs and of the tests: allocations that libraries never free
// are not reported as leaks; our own code is never excluded.

extern "C" {

// The windowing plug-ins' start-up objects, which Qt never frees; and Boost.GIL's PNG reader,
// which takes libpng's errors by longjmp and so skips its row buffer's destructor on each
// corrupt file. On X11 the platform plug-in also talks to D-Bus from a thread of Qt's, whose
// read buffer it never frees. Where Mesa is installed, the GL integration that the xcb plug-in
// loads for a new window keeps a buffer of Mesa's GLX library for good.
const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n"
           "leak:boost::gil::detail::row_buffer_helper\n"
           "leak:libdbus-1.so\n"
           "leak:libGLX_mesa.so\n";
}

// Full allocation stacks, so that the suppressions above match frames deep inside Qt.
const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0:malloc_context_size=30";
}
}
