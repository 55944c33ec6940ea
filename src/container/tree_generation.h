// A process-wide count of changes to the shape or IDs of any container
// tree, so that an index over a tree can tell when it must be rebuilt.
#pragma once

#include <cstdint>

namespace nametree {

std::uint64_t TreeGeneration();
void NoteTreeChange();

}  // namespace nametree
