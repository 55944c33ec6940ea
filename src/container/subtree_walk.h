// A container's subtree in pre-order without recursion: each container
// before its sub-containers, these in their table's walk order, each one's
// whole subtree before the next. It is the order of the stream record and
// of every search over the tables, and it holds at any depth.
//
// Invariant: the pending stack holds, nearest level on top, the containers
// still to visit at each open level, each level in reverse walk order; so
// what the walk needs grows with the containers pending, never with the
// call stack. It may throw std::bad_alloc; the callers' entries catch it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "container/container_tables.h"
#include "nametree/name_container.h"

namespace nametree {

enum class WalkStep { kDescend, kSkip, kStop };

class SubtreeWalk {
 public:
  // visit(const CNameContainer&, depth below root) says whether to enter
  // the container's sub-containers, pass them by, or end the walk. Returns
  // false when a visit ended it.
  template <class Visit>
  static bool Run(const CNameContainer& root, Visit&& visit) {
    struct Pending {
      const CNameContainer* c;
      std::size_t depth;
    };
    std::vector<Pending> stack{{&root, 0}};
    std::vector<const CNameContainer*> children;
    while (!stack.empty()) {
      const Pending p = stack.back();
      stack.pop_back();
      const WalkStep step = visit(*p.c, p.depth);
      if (step == WalkStep::kStop) return false;
      if (step == WalkStep::kSkip) continue;
      children.clear();
      TablesOf(*p.c).Children().Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
        children.push_back(child.get());
        return true;
      });
      // mutate: walk-siblings-forward
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, p.depth + 1});
    }
    return true;
  }
};

}  // namespace nametree
