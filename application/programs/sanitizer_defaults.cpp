// Sanitizer defaults of the programs and of the tests: allocations that libraries never free
// are not reported as leaks; our own code is never excluded.

extern "C" {

// The windowing plug-ins' start-up objects, which Qt never frees; and Boost.GIL's PNG reader,
// which takes libpng's errors by longjmp and so skips its row buffer's destructor on each
// corrupt file.
const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n"
           "leak:boost::gil::detail::row_buffer_helper\n";
}

// Full allocation stacks, so that the suppressions above match frames deep inside Qt.
const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0:malloc_context_size=30";
}
}
