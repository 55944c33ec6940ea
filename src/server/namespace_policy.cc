#include "server/namespace_policy.h"

namespace nametree {

namespace {
using Where = CDuplicateHit::Where;
// mutate: keyword-and-global-swapped
constexpr Where kAlone[] = {Where::kOwnContainer, Where::kKeyword, Where::kGlobal};
// mutate: global-and-target-swapped, policy-global-tree-skips-targets
constexpr Where kInGlobalTree[] = {Where::kKeyword, Where::kGlobal, Where::kTarget};
// mutate: policy-own-tree-after-global
constexpr Where kInOwnTree[] = {Where::kKeyword, Where::kOwnTree, Where::kGlobal};
}  // namespace

std::span<const Where> NamespacesApart(std::int16_t type, bool confine, bool globalTree) {
  if (JudgedAlone(type, confine)) return kAlone;
  return globalTree ? std::span<const Where>(kInGlobalTree) : std::span<const Where>(kInOwnTree);
}

}  // namespace nametree
