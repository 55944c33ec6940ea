#include "container/container_tables.h"
#include "container/tree_index.h"
#include "nametree/name_container.h"

namespace nametree {

std::uint32_t CNameContainer::GetParentID() const { return m_pParent ? m_pParent->m_ID : 0; }

CNameContainer* CNameContainer::FindRootContainer() {
  CNameContainer* c = this;
  while (c->m_pParent) c = c->m_pParent;
  return c;
}

std::uint32_t CNameContainer::AddContainer(std::int16_t type) {
  // The child's own initialisation draws an ID that is then replaced by a
  // second draw; each sub-container therefore uses up two IDs.
  auto child = std::make_unique<CNameContainer>(false);
  const std::uint32_t id = GetNextNameID();
  child->m_ID = id;
  child->m_pParent = this;
  child->m_Type = type;
  PlaceChild(id, std::move(child));
  return id;
}

HRESULT CNameContainer::DeleteContainer(std::uint32_t id) {
  if (id == 0 || m_SubContainers->empty()) return E_FAIL;
  std::unique_ptr<CNameContainer>* slot = m_SubContainers->Lookup(id);
  if (!slot) return S_FALSE;
  if (m_pIndex) m_pIndex->ChildDetaching(slot->get());
  (*slot)->Shutdown();
  slot->reset();
  m_SubContainers->RemoveKey(id);
  return S_OK;
}

CNameContainer* CNameContainer::FindContainer(std::uint32_t id) const {
  if (id == 0 || m_SubContainers->empty()) return nullptr;
  if (auto* slot = m_SubContainers->Lookup(id)) return slot->get();
  CNameContainer* found = nullptr;
  m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
    if (!child->m_SubContainers->empty()) found = child->FindContainer(id);
    return found == nullptr;
  });
  return found;
}

CNameContainer* CNameContainer::FindContainerOfName(std::uint32_t nameID) {
  if (nameID == 0) return nullptr;
  if (m_NamesByID->Contains(nameID)) return this;
  CNameContainer* found = nullptr;
  m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
    found = child->FindContainerOfName(nameID);
    return found == nullptr;
  });
  return found;
}

HRESULT CNameContainer::FindNameByIDForAllContainers(std::uint32_t id, CString* pText) const {
  if (FindNameByID(id, pText) == S_OK) return S_OK;
  bool hit = false;
  m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
    hit = child->FindNameByIDForAllContainers(id, pText) == S_OK;
    return !hit;
  });
  return hit ? S_OK : S_FALSE;
}

int CNameContainer::GetNumSubContainers() const { return static_cast<int>(m_SubContainers->size()); }

int CNameContainer::GetSubContainerIDs(std::uint32_t* const ids) const {
  int n = 0;
  m_SubContainers->Walk([&](std::uint32_t id, const std::unique_ptr<CNameContainer>&) {
    ids[n++] = id;
    return true;
  });
  return n;
}

}  // namespace nametree
