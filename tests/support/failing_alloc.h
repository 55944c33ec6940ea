// Makes the process's allocations fail on demand, for checking what each
// entry does when memory runs out. Link support/failing_alloc.cc into one
// test program only: it replaces the global operator new.
#pragma once

namespace nametree::test {

// False where the allocator cannot be replaced (sanitizer builds).
bool CanFailAllocations();
// After `successes` more allocations, every one throws std::bad_alloc
// until StopFailingAllocations.
void FailAllocationsAfter(long successes);
void StopFailingAllocations();
// Whether an allocation was refused since the last FailAllocationsAfter.
bool AllocationFailed();

}  // namespace nametree::test
