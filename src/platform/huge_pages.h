// Large arrays probed at random (the tree index's maps) miss the TLB on
// nearly every probe when they sit on small pages. Such an array asks the
// system for huge pages before it is first touched. Only ever a hint: where
// the system has none to give, or no such call, nothing changes.
#pragma once

#include <cstddef>

namespace nametree {

// Arrays from this size on are worth the call.
inline constexpr std::size_t kHugePageWorthy = std::size_t{4} << 20;

void AdviseHugePages(void* block, std::size_t bytes);

}  // namespace nametree
