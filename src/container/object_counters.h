// A container's object counters, kept in one block that the container makes
// at its first GetNextObjectCount: few containers number objects, so the
// others carry one null pointer instead of an empty list and its index.
//
// Invariant: counters are only appended, never renamed or removed (Shutdown
// and ResetContainer keep them); index, made once there are more counters
// than a scan handles well, finds each base name's first counter (see
// container/counter_index.h). CheckCounters verifies both; the container's
// selected counter (m_nObjectIndex) is -1 or a place in counters.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "container/counter_index.h"
#include "nametree/name_container.h"

namespace nametree {

struct ObjectCounters {
  std::vector<CObjectCounter> counters;
  std::unique_ptr<CounterIndex> index;  // made once the counters are many

  std::size_t MemoryUsage() const {
    return sizeof(*this) + counters.capacity() * sizeof(CObjectCounter) + (index ? index->MemoryUsage() : 0);
  }
};

// The first broken rule of c's counters block, or an empty text.
std::string CheckCounters(const CNameContainer& c);

}  // namespace nametree
