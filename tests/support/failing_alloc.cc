#include "support/failing_alloc.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define NAMETREE_FAILING_ALLOC_OFF 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define NAMETREE_FAILING_ALLOC_OFF 1
#endif
#endif

namespace {
// One thread drives the tests; nothing here needs to be atomic.
bool g_armed = false;
bool g_failed = false;
long g_left = 0;
}  // namespace

namespace nametree::test {

#ifdef NAMETREE_FAILING_ALLOC_OFF
bool CanFailAllocations() { return false; }
#else
bool CanFailAllocations() { return true; }
#endif

void FailAllocationsAfter(long successes) {
  g_left = successes;
  g_failed = false;
  g_armed = true;
}

void StopFailingAllocations() { g_armed = false; }

bool AllocationFailed() { return g_failed; }

}  // namespace nametree::test

#ifndef NAMETREE_FAILING_ALLOC_OFF

void* operator new(std::size_t size) {
  if (g_armed && g_left-- <= 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

#endif
