// Document's walks: the tree-walk types over the document's own server, so
// that a client walks without reaching for the classic API.
#include "nametree/document.h"
#include "nametree/tree_walk.h"

namespace nametree {

TreeWalk Document::Walk() const { return TreeWalk(Server()); }

TreeWalk Document::Walk(std::uint32_t container, int maxDepth) const {
  // mutate: document-walk-ignores-depth
  return TreeWalk(Server(), container, maxDepth);
}

TreeWalk Document::Levels(int maxDepth) const { return TreeWalk::Levels(Server(), maxDepth); }

SubtreeCounts Document::Count(std::uint32_t container) const { return CountSubtree(Server(), container); }

std::optional<ContainerRef> Document::FindContainer(std::uint32_t id) const {
  const TreeWalk walk = Walk(id, 0);
  if (walk.begin() == walk.end()) return std::nullopt;
  return *walk.begin();
}

bool Document::IsValidName(std::u16string_view text, std::uint32_t kind, CNameRuleViolation* why) const {
  return !Server().ExplainInvalidName(CString(text), kind, why);
}

}  // namespace nametree
