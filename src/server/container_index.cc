#include "server/container_index.h"

#include "container/container_tables.h"
#include "container/tree_generation.h"

namespace nametree {

bool CContainerIndex::Current() const { return generation_ == TreeGeneration(); }

CNameContainer* CContainerIndex::Find(const TopList& tops, std::uint32_t id, bool* repeated) {
  if (!Current()) Rebuild(tops);
  *repeated = repeated_.count(id) != 0;
  if (*repeated) return nullptr;
  const auto it = byID_.find(id);
  return it == byID_.end() ? nullptr : it->second;
}

void CContainerIndex::Added(CNameContainer* container) {
  Enter(container);
  generation_ = TreeGeneration();
}

void CContainerIndex::Enter(CNameContainer* container) {
  const std::uint32_t id = container->m_ID;
  if (repeated_.count(id)) return;
  const auto [it, fresh] = byID_.emplace(id, container);
  if (!fresh) {
    byID_.erase(it);
    repeated_.insert(id);
  }
}

void CContainerIndex::Rebuild(const TopList& tops) {
  byID_.clear();
  repeated_.clear();
  std::vector<CNameContainer*> pending;
  for (const auto& top : tops) pending.push_back(top.get());
  while (!pending.empty()) {
    CNameContainer* c = pending.back();
    pending.pop_back();
    Enter(c);
    c->m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
      pending.push_back(child.get());
      return true;
    });
  }
  generation_ = TreeGeneration();
}

}  // namespace nametree
