#include "platform/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace nametree {

void AdviseHugePages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes < kHugePageWorthy) return;
  // madvise takes whole pages: the ones inside the block, so that no
  // neighbour of it is touched.
  static const long kPageSize = sysconf(_SC_PAGESIZE);
  if (kPageSize <= 0) return;
  const auto page = static_cast<std::uintptr_t>(kPageSize);
  const auto from = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(page - 1);
  if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace nametree
