#include "container/container_tables.h"
#include "nametree/name_container.h"
#include "platform/text.h"
#include <new>

namespace nametree {

HRESULT CNameContainer::CreateContainerFromData(std::uint32_t id, std::int16_t type) {
  // Name tables keep their default size; only the sub-container table grows.
  m_Tables->ResetChildren(kSubContainerBuckets);
  m_pParent = nullptr;
  SetContainerType(type);
  ChangeID(id);
  return S_OK;
}

HRESULT CNameContainer::AddContainerFromData(CNameContainer* parent, std::uint32_t id, std::int16_t type) {
  try {
    if (auto* slot = m_Tables->Children().Lookup(id)) {
      if ((*slot)->m_Type == type) return S_OK;
    }
    ContainerTables::PlaceChild(*this, id, std::unique_ptr<CNameContainer>(new CNameContainer(parent, id, type)));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::AddNameFromData(std::uint32_t id, CString name, std::uint32_t) {
  try {
    CString key = ToUpper(name);
    m_Tables->EnterName(id, name);
    m_Tables->EnterKey(key, id);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace nametree
