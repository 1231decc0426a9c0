#pragma once
// Every allocation of this test program is counted, so that a test can show that some work
// allocates nothing: memory stays flat however long a run.

#include <cstdint>

// The number of allocations through operator new so far, on every thread.
int64_t AllocationCount();
