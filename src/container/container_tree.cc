#include "container/container_tables.h"
#include "container/subtree_walk.h"
#include "container/tree_index.h"
#include "nametree/name_container.h"
#include <new>

namespace nametree {

std::uint32_t CNameContainer::GetParentID() const { return m_pParent ? m_pParent->m_ID : 0; }

CNameContainer* CNameContainer::FindRootContainer() {
  CNameContainer* c = this;
  while (c->m_pParent) c = c->m_pParent;
  return c;
}

std::uint32_t CNameContainer::AddContainer(std::int16_t type) {
  // The child's own initialisation draws an ID that is then replaced by a
  // second draw; each sub-container therefore uses up two IDs, and none is
  // made when the counter would pass its end.
  // mutate: ids-wrap-one-draw
  if (GetRemainingNameIDs() < 2) return 0;
  const std::uint32_t last = GetLastIssuedNameID();
  try {
    auto child = std::make_unique<CNameContainer>(false);
    const std::uint32_t id = GetNextNameID();
    child->m_ID = id;
    child->m_pParent = this;
    child->m_Type = type;
    ContainerTables::PlaceChild(*this, id, std::move(child));
    return id;
  } catch (const std::bad_alloc&) {
    // mutate: oom-ids-used-up
    SetLastIssuedNameID(last);  // out of memory: nothing changed, no ID used
    return 0;
  }
}

HRESULT CNameContainer::DeleteContainer(std::uint32_t id) {
  if (id == 0 || m_Tables->Children().empty()) return E_FAIL;
  return m_Tables->RemoveChild(id) ? S_OK : S_FALSE;
}

// The searches below visit the subtree in the recursive pre-order, on a
// stack of their own, so that a tree of any depth is searched.

CNameContainer* CNameContainer::FindContainer(std::uint32_t id) const {
  if (id == 0 || m_Tables->Children().empty()) return nullptr;
  CNameContainer* found = nullptr;
  try {
    // At each level the direct children are looked up before any is entered.
    SubtreeWalk::Run(*this, [&](const CNameContainer& c, std::size_t) {
      if (auto* slot = c.m_Tables->Children().Lookup(id)) found = slot->get();
      return found ? WalkStep::kStop : WalkStep::kDescend;
    });
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return found;
}

CNameContainer* CNameContainer::FindContainerOfName(std::uint32_t nameID) {
  if (nameID == 0) return nullptr;
  const CNameContainer* found = nullptr;
  try {
    SubtreeWalk::Run(*this, [&](const CNameContainer& c, std::size_t) {
      if (TablesOf(c).Names().Contains(nameID)) found = &c;
      return found ? WalkStep::kStop : WalkStep::kDescend;
    });
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return const_cast<CNameContainer*>(found);
}

HRESULT CNameContainer::FindNameByIDForAllContainers(std::uint32_t id, CString* pText) const {
  bool hit = false;
  try {
    SubtreeWalk::Run(*this, [&](const CNameContainer& c, std::size_t) {
      hit = c.FindNameByID(id, pText) == S_OK;
      return hit ? WalkStep::kStop : WalkStep::kDescend;
    });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return hit ? S_OK : S_FALSE;
}

int CNameContainer::GetNumSubContainers() const { return static_cast<int>(m_Tables->Children().size()); }

int CNameContainer::GetSubContainerIDs(std::uint32_t* const ids) const {
  int n = 0;
  m_Tables->Children().Walk([&](std::uint32_t id, const std::unique_ptr<CNameContainer>&) {
    ids[n++] = id;
    return true;
  });
  return n;
}

}  // namespace nametree
