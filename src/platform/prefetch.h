// Asking the cache for a line ahead of its use. Only ever a hint: it reads
// nothing, changes nothing and cannot fault, whatever the address.
#pragma once

namespace nametree {

inline constexpr unsigned kCacheLine = 64;

inline void PrefetchLine(const void* p) {
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));  // GCC 12 drops the builtin in some callers
#else
  __builtin_prefetch(p);
#endif
}

}  // namespace nametree
