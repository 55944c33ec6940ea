// Finds a container's object counter by base name without scanning them.
//
// Holds, for every non-empty base name among counters [0, indexed_), the
// position of the first counter with that name: the one a front-to-back
// scan stops at. Counters are only ever appended and never renamed, so
// Find brings it up to date by entering the counters appended since its
// last call; each counter is entered once. A container makes one only
// once it has more counters than a scan handles well.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "nametree/name_container.h"

namespace nametree {

class CounterIndex {
 public:
  // Below this many counters a scan is as fast as a lookup.
  static constexpr std::size_t kScanLimit = 16;

  // The position of baseName's first counter, or -1.
  std::int32_t Find(const std::vector<CObjectCounter>& counters, const CString& baseName) {
    for (; indexed_ < counters.size(); ++indexed_) {
      const CString& name = counters[indexed_].baseName;
      if (!name.empty()) first_.emplace(name, static_cast<std::int32_t>(indexed_));
    }
    return Peek(baseName);
  }

  // What Find would answer without entering new counters, and how many it
  // has entered: for the checks.
  std::int32_t Peek(const CString& baseName) const {
    const auto it = first_.find(baseName);
    return it == first_.end() ? -1 : it->second;
  }
  std::size_t Indexed() const { return indexed_; }

  std::size_t MemoryUsage() const {
    return first_.bucket_count() * sizeof(void*) +
           first_.size() * (sizeof(CString) + sizeof(std::int32_t) + 2 * sizeof(void*));
  }

 private:
  std::unordered_map<CString, std::int32_t> first_;
  std::size_t indexed_ = 0;
};

}  // namespace nametree
