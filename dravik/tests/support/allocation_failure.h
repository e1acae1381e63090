#pragma once
// A test-only allocation-failure injector: the test binary replaces the global operator new,
// which counts allocations down and throws std::bad_alloc once the count runs out.

namespace testsupport {

// The n-th allocation from now (0 = the next one) throws std::bad_alloc; later ones succeed.
void failAllocation(long n);
// Disarms a failure that has not happened yet.
void stopFailingAllocations();
// Whether the armed failure has happened.
bool allocationFailed();

} // namespace testsupport
