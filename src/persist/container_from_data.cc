#include "container/container_tables.h"
#include "nametree/name_container.h"
#include "platform/text.h"
#include <new>
#include <optional>

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

// Whole or not at all: of the two entries, the one made second is the one
// that can run out of memory, and the first is taken back, which needs none.
// A new ID's text goes first, so that its key can share the text's units.
HRESULT CNameContainer::AddNameFromData(std::uint32_t id, CString name, std::uint32_t) {
  try {
    CString key = ToUpper(name);
    if (!m_Tables->Names().Contains(id)) {
      m_Tables->EnterName(id, name);
      try {
        m_Tables->EnterKey(key, id);
      } catch (const std::bad_alloc&) {
        // mutate: from-data-new-name-kept-without-key
        m_Tables->RemoveName(id);
        throw;
      }
      return S_OK;
    }
    // A held ID's text is replaced in place, so its key goes first.
    const std::uint32_t* held = m_Tables->Keys().Lookup(key);
    const std::optional<std::uint32_t> keyHad = held ? std::optional<std::uint32_t>(*held) : std::nullopt;
    m_Tables->EnterKey(key, id);
    try {
      m_Tables->EnterName(id, name);
    } catch (const std::bad_alloc&) {
      if (keyHad) {
        m_Tables->EnterKey(key, *keyHad);  // only a value changes
      } else {
        // mutate: from-data-held-name-keeps-new-key
        m_Tables->RemoveKey(key, nullptr);
      }
      throw;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace nametree
