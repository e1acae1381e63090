#pragma once
// A test-only thread-start failure: the test binary defines pthread_create, which hands every
// call on to the system's except the one a test asks to fail; that one fails as a system
// without room for another thread's stack answers (EAGAIN), whoever starts the thread.

namespace testsupport {

// The n-th thread started from now (0 = the next one) fails to start; later ones start.
void failThreadStart(long n);
// Disarms a failure that has not happened yet.
void stopFailingThreadStarts();
// Whether the armed failure has happened.
bool threadStartFailed();

} // namespace testsupport
