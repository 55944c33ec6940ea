#include "container/container_tables.h"
#include "container/tree_generation.h"
#include "nametree/name_container.h"
#include "platform/text.h"

namespace nametree {

HRESULT CNameContainer::CreateContainerFromData(std::uint32_t id, std::int16_t type) {
  // Name tables keep their default size; only the sub-container table grows.
  m_SubContainers->InitHashTable(kSubContainerBuckets);
  m_pParent = nullptr;
  m_Type = type;
  m_ID = id;
  NoteTreeChange();
  return S_OK;
}

HRESULT CNameContainer::AddContainerFromData(CNameContainer* parent, std::uint32_t id, std::int16_t type) {
  if (auto* slot = m_SubContainers->Lookup(id)) {
    if ((*slot)->m_Type == type) return S_OK;
  }
  std::unique_ptr<CNameContainer> child(new CNameContainer(parent, id, type));
  m_SubContainers->SetAt(id, std::move(child));
  NoteTreeChange();
  return S_OK;
}

HRESULT CNameContainer::AddNameFromData(std::uint32_t id, CString name, std::uint32_t) {
  CString key = ToUpper(name);
  m_NamesByID->SetAt(id, std::move(name));
  m_IDsByName->SetAt(std::move(key), id);
  return S_OK;
}

}  // namespace nametree
