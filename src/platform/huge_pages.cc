#include "platform/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace nametree {

void AdviseHugePages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes < kHugePageWorthy) return;
  // madvise takes whole pages: the ones inside the block, so that no
  // neighbour of it is touched.
  constexpr std::uintptr_t kPage = 4096;
  const auto from = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kPage - 1);
  if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace nametree
