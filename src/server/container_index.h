// Finds containers by ID without walking the tree: a map from every ID that
// occurs once in the server's tree to its container, rebuilt when any tree
// changed. IDs that occur more than once (documents may repeat them) are
// left to the walk, so that the answer is always the walk's first find.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "nametree/name_container.h"

namespace nametree {

class CContainerIndex {
 public:
  using TopList = std::vector<std::unique_ptr<CNameContainer>>;

  // Whether the index still describes every tree as it is.
  bool Current() const;
  // The container with `id`, or null; `repeated` is set when the ID occurs
  // more than once and the caller must walk.
  CNameContainer* Find(const TopList& tops, std::uint32_t id, bool* repeated);
  // Records a container just added while the index was current.
  void Added(CNameContainer* container);

 private:
  void Rebuild(const TopList& tops);
  void Enter(CNameContainer* container);

  std::unordered_map<std::uint32_t, CNameContainer*> byID_;
  std::unordered_set<std::uint32_t> repeated_;
  std::uint64_t generation_ = ~std::uint64_t{0};
};

}  // namespace nametree
