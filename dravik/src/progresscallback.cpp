// The engine's stand-in for the application's progress function: it answers 0, so nothing
// is ever cancelled. The application's own definition replaces it at link time.
#include "dravik.h"

extern "C" __attribute__((weak)) int DvProgressCallback(unsigned char, void*)
{
    return 0;
}
