#include "nametree/name_container.h"

#include "container/container_tables.h"
#include "container/tree_index.h"
#include "container/counter_index.h"
#include "platform/text.h"

namespace nametree {

CNameContainer::CNameContainer(bool bUninitialized)
    : m_ID(0xFFFFFFFFu),
      m_Type(0),
      m_pParent(nullptr),
      m_SubContainers(std::make_unique<SubContainerTable>()),
      m_NamesByID(std::make_unique<NameByIdTable>()),
      m_IDsByName(std::make_unique<IdByNameTable>()),
      m_nObjectIndex(-1) {
  if (!bUninitialized) Initialize();
}

CNameContainer::CNameContainer(CNameContainer* parent, std::uint32_t id, std::int16_t type)
    : CNameContainer(true) {
  m_SubContainers->InitHashTable(kSubContainerBuckets);
  m_NamesByID->InitHashTable(kNameBuckets);
  m_IDsByName->InitHashTable(kNameBuckets);
  m_pParent = parent;
  m_ID = id;
  m_Type = type;
}

CNameContainer::~CNameContainer() { Shutdown(); }

void CNameContainer::Initialize() {
  RemoveAllChildren();
  RemoveAllNames();
  m_SubContainers->InitHashTable(kSubContainerBuckets);
  m_NamesByID->InitHashTable(kNameBuckets);
  m_IDsByName->InitHashTable(kNameBuckets);
  ChangeID(GetNextNameID());
}

void CNameContainer::Shutdown() {
  RemoveAllChildren();
  m_pParent = nullptr;
  RemoveAllNames();
}

void CNameContainer::ResetContainer() { RemoveAllNames(); }

// Every change of the tables below goes through these few members, so
// that a server's index hears of it.
void CNameContainer::EnterName(std::uint32_t id, CString text) {
  const std::size_t before = m_NamesByID->size();
  m_NamesByID->SetAt(id, std::move(text));
  if (m_pIndex && m_NamesByID->size() != before) m_pIndex->NameIdEntered(this, id);
}

void CNameContainer::EnterKey(CString key, std::uint32_t id) {
  const std::uint64_t hash = m_pIndex ? CTreeIndex::TextHash(key) : 0;
  const std::size_t before = m_IDsByName->size();
  m_IDsByName->SetAt(std::move(key), id);
  if (m_pIndex && m_IDsByName->size() != before) m_pIndex->TextEntered(this, hash);
}

bool CNameContainer::RemoveName(std::uint32_t id, CString* text) {
  if (!m_NamesByID->RemoveKey(id, text)) return false;
  if (m_pIndex) m_pIndex->NameIdLeft(this, id);
  return true;
}

bool CNameContainer::RemoveKey(const CString& key, std::uint32_t* id) {
  if (!m_IDsByName->RemoveKey(key, id)) return false;
  if (m_pIndex) m_pIndex->TextLeft(this, CTreeIndex::TextHash(key));
  return true;
}

void CNameContainer::RemoveAllNames() {
  if (m_pIndex && !m_pIndex->TearingDown()) {
    m_NamesByID->Walk([&](std::uint32_t id, const CString&) {
      m_pIndex->NameIdLeft(this, id);
      return true;
    });
    m_IDsByName->Walk([&](const CString& key, std::uint32_t) {
      m_pIndex->TextLeft(this, CTreeIndex::TextHash(key));
      return true;
    });
  }
  m_NamesByID->RemoveAll();
  m_IDsByName->RemoveAll();
}

void CNameContainer::PlaceChild(std::uint32_t key, std::unique_ptr<CNameContainer> child) {
  CNameContainer* raw = child.get();
  raw->m_pHolder = this;
  raw->m_nSlotKey = key;
  // A child replaced under its key leaves its place in the walk to the new one.
  std::uint64_t order = 0;
  if (const auto* old = m_SubContainers->Lookup(key); old && m_pIndex) order = m_pIndex->ChildDetaching(old->get());
  m_SubContainers->SetAt(key, std::move(child));
  if (m_pIndex) m_pIndex->ChildAttached(this, raw, order);
}

void CNameContainer::RemoveAllChildren() {
  // Each child takes its subtree with it, in table order.
  m_SubContainers->Walk([&](std::uint32_t, std::unique_ptr<CNameContainer>& child) {
    if (m_pIndex) m_pIndex->ChildDetaching(child.get());
    child->Shutdown();
    child.reset();
    return true;
  });
  m_SubContainers->RemoveAll();
}

void CNameContainer::ChangeID(std::uint32_t id) {
  if (m_pIndex) m_pIndex->TopIdChanging(this, id);
  m_ID = id;
}

void CNameContainer::SetContainerType(std::int16_t type) {
  if (m_pIndex) m_pIndex->TypeChanging(this, type);
  else m_Type = type;
}

void CNameContainer::SetParent(CNameContainer* parent) {
  for (const CNameContainer* p = parent; p; p = p->m_pParent)
    if (p == this) return;
  m_pParent = parent;
}

std::uint32_t CNameContainer::AddName(CString text) {
  const std::uint32_t id = GetNextNameID();
  CString key = ToUpper(text);
  EnterName(id, std::move(text));
  EnterKey(std::move(key), id);
  return id;
}

HRESULT CNameContainer::DeleteName(std::uint32_t id) {
  CString text;
  if (id == 0 || !RemoveName(id, &text)) return E_FAIL;
  RemoveKey(ToUpper(text), nullptr);
  return S_OK;
}

HRESULT CNameContainer::FindNameByID(std::uint32_t id, CString* pText) const {
  if (id == 0) return E_FAIL;
  const CString* text = m_NamesByID->Lookup(id);
  if (!text) return S_FALSE;
  if (pText) *pText = *text;
  return S_OK;
}

HRESULT CNameContainer::FindIDByName(CString text, std::uint32_t* pID) const {
  if (text.empty()) return E_FAIL;
  const std::uint32_t* id = m_IDsByName->Lookup(ToUpper(text));
  if (!id) return S_FALSE;
  if (pID) *pID = *id;
  return S_OK;
}

HRESULT CNameContainer::FindName(CString text, bool bRecurse, std::uint32_t* pID) const {
  if (text.empty()) return S_FALSE;
  MakeUpper(text);
  return FindNameByKey(text, bRecurse, pID);
}

HRESULT CNameContainer::FindNameByKey(const CString& text, bool bRecurse, std::uint32_t* pID) const {
  if (text.empty()) return S_FALSE;
  // The descent looks up the one upper-cased key at every level.
  auto search = [&](auto& self, const CNameContainer& c) -> bool {
    if (const std::uint32_t* id = c.m_IDsByName->Lookup(text)) {
      if (pID) *pID = *id;
      return true;
    }
    if (!bRecurse) return false;
    return !c.m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
      const std::int16_t t = child->m_Type;
      if (t != 2 && t != 3 && t != 4) return true;
      return !self(self, *child);
    });
  };
  return search(search, *this) ? S_OK : S_FALSE;
}

std::uint32_t CNameContainer::GetIDOfName(CString text) const {
  const std::uint32_t* id = m_IDsByName->Lookup(ToUpper(text));
  return id ? *id : 0;
}

HRESULT CNameContainer::Rename(std::uint32_t id, CString newText) {
  if (id == 0 || newText.empty()) return E_FAIL;
  CString* current = m_NamesByID->Lookup(id);
  if (!current) return S_FALSE;
  const CString oldKey = ToUpper(*current);
  CString newKey = ToUpper(newText);
  *current = std::move(newText);
  RemoveKey(oldKey, nullptr);
  EnterKey(std::move(newKey), id);
  return S_OK;
}

HRESULT CNameContainer::Rename(CString oldText, CString newText) {
  if (oldText.empty() || newText.empty()) return E_FAIL;
  const CString oldKey = ToUpper(oldText);
  std::uint32_t id = 0;
  if (!RemoveKey(oldKey, &id)) return S_FALSE;
  CString newKey = ToUpper(newText);
  EnterName(id, std::move(newText));
  EnterKey(std::move(newKey), id);
  return S_OK;
}

int CNameContainer::GetNumNames() const { return static_cast<int>(m_IDsByName->size()); }

HRESULT CNameContainer::GetAllNamesInContainer(CString* const texts) const {
  int left = GetNumNames();
  CString* out = texts;
  m_NamesByID->Walk([&](std::uint32_t, const CString& text) {
    if (left-- <= 0) return false;
    *out++ = text;
    return true;
  });
  return S_OK;
}

HRESULT CNameContainer::GetAllIDsInContainer(std::uint32_t* const ids) const {
  std::uint32_t* out = ids;
  m_IDsByName->Walk([&](const CString&, std::uint32_t id) {
    *out++ = id;
    return true;
  });
  return S_OK;
}

HRESULT CNameContainer::GetAllNameAndIDsInContainer(CString* const texts, std::uint32_t* const ids) const {
  int left = GetNumNames();
  std::size_t i = 0;
  m_NamesByID->Walk([&](std::uint32_t id, const CString& text) {
    if (left-- <= 0) return false;
    texts[i] = text;
    ids[i] = id;
    ++i;
    return true;
  });
  return S_OK;
}

std::uint32_t CNameContainer::GetBucketCounts(std::uint32_t* namesByText,
                                              std::uint32_t* subContainers) const {
  if (namesByText) *namesByText = m_IDsByName->BucketCount();
  if (subContainers) *subContainers = m_SubContainers->BucketCount();
  return m_NamesByID->BucketCount();
}

std::size_t CNameContainer::GetMemoryFootprint() const {
  std::size_t bytes = sizeof(*this) + sizeof(SubContainerTable) + sizeof(NameByIdTable) +
                      sizeof(IdByNameTable) + m_SubContainers->MemoryUsage() + m_NamesByID->MemoryUsage() +
                      m_IDsByName->MemoryUsage() + m_ObjectCounters.capacity() * sizeof(CObjectCounter) +
                      (m_pCounterIndex ? m_pCounterIndex->MemoryUsage() : 0);
  // Texts longer than the small-string buffer live on the heap, once per table.
  auto heap = [](const CString& s) { return s.capacity() > CString().capacity() ? (s.capacity() + 1) * 2 : 0; };
  m_NamesByID->Walk([&](std::uint32_t, const CString& text) {
    bytes += 2 * heap(text);
    return true;
  });
  return bytes;
}

}  // namespace nametree
