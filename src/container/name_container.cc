#include "nametree/name_container.h"

#include "container/container_tables.h"
#include "container/subtree_walk.h"
#include "container/tree_index.h"
#include "container/counter_index.h"
#include "platform/text.h"
#include <new>

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
// that a server's index hears of it. An entry either lands in both or, out
// of memory, in neither: the table's own change is undone and the failure
// passed on. Removals need no memory.
void CNameContainer::EnterName(std::uint32_t id, CString text) {
  const std::size_t before = m_NamesByID->size();
  m_NamesByID->SetAt(id, std::move(text));
  if (!m_pIndex || m_NamesByID->size() == before) return;
  try {
    m_pIndex->NameIdEntered(this, id);
  } catch (...) {
    m_NamesByID->RemoveKey(id);
    throw;
  }
}

void CNameContainer::EnterKey(CString key, std::uint32_t id) {
  if (!m_pIndex) {
    m_IDsByName->SetAt(std::move(key), id);
    return;
  }
  const std::uint64_t hash = CTreeIndex::TextHash(key);
  const std::size_t before = m_IDsByName->size();
  m_IDsByName->SetAt(key, id);
  if (m_IDsByName->size() == before) return;
  try {
    m_pIndex->TextEntered(this, hash);
  } catch (...) {
    m_IDsByName->RemoveKey(key);
    throw;
  }
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
  if (!m_pIndex) return;
  try {
    m_pIndex->ChildAttached(this, raw, order);
  } catch (...) {
    m_SubContainers->RemoveKey(key);  // out of memory: the child goes again
    throw;
  }
}

void CNameContainer::RemoveAllChildren() {
  // The subtree is taken apart from here on a list threaded through
  // m_pParent (which Shutdown clears anyway): every container is freed
  // after its own children were handed to the list, so no destructor
  // recurses and nothing is allocated, at any depth.
  CNameContainer* doomed = nullptr;
  auto handOver = [&doomed](CNameContainer& from) {
    from.m_SubContainers->Walk([&](std::uint32_t, std::unique_ptr<CNameContainer>& child) {
      if (from.m_pIndex) from.m_pIndex->ChildDetaching(child.get());
      child->m_pParent = doomed;
      doomed = child.release();
      return true;
    });
    from.m_SubContainers->RemoveAll();
  };
  handOver(*this);
  while (doomed) {
    CNameContainer* c = doomed;
    doomed = c->m_pParent;
    c->m_pParent = nullptr;
    handOver(*c);
    delete c;
  }
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
  if (GetRemainingNameIDs() < 1) return 0;
  try {
    CString key = ToUpper(text);
    const std::uint32_t id = GetNextNameID();
    try {
      EnterName(id, std::move(text));
      EnterKey(std::move(key), id);
    } catch (const std::bad_alloc&) {
      // Nothing stays of a name that could not be entered, its ID included.
      RemoveName(id, nullptr);
      SetLastIssuedNameID(id - 1);
      return 0;
    }
    return id;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HRESULT CNameContainer::DeleteName(std::uint32_t id) {
  try {
    const CString* text = id ? m_NamesByID->Lookup(id) : nullptr;
    if (!text) return E_FAIL;
    const CString key = ToUpper(*text);  // made first: the removals need no memory
    RemoveName(id, nullptr);
    RemoveKey(key, nullptr);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::FindNameByID(std::uint32_t id, CString* pText) const {
  if (id == 0) return E_FAIL;
  const CString* text = m_NamesByID->Lookup(id);
  if (!text) return S_FALSE;
  if (pText) *pText = *text;
  return S_OK;
}

HRESULT CNameContainer::FindIDByName(CString text, std::uint32_t* pID) const {
  try {
    if (text.empty()) return E_FAIL;
    const std::uint32_t* id = m_IDsByName->Lookup(ToUpper(text));
    if (!id) return S_FALSE;
    if (pID) *pID = *id;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::FindName(CString text, bool bRecurse, std::uint32_t* pID) const {
  try {
    if (text.empty()) return S_FALSE;
    MakeUpper(text);
    return FindNameByKey(text, bRecurse, pID);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::FindNameByKey(const CString& text, bool bRecurse, std::uint32_t* pID) const {
  if (text.empty()) return S_FALSE;
  // The descent looks up the one upper-cased key at every level, entering
  // only containers of the types a search goes through.
  bool hit = false;
  try {
    SubtreeWalk::Run(*this, [&](const CNameContainer& c, std::size_t depth) {
      const std::int16_t t = c.m_Type;
      if (depth > 0 && t != 2 && t != 3 && t != 4) return WalkStep::kSkip;
      if (const std::uint32_t* id = c.m_IDsByName->Lookup(text)) {
        if (pID) *pID = *id;
        hit = true;
      }
      return hit || !bRecurse ? WalkStep::kStop : WalkStep::kDescend;
    });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return hit ? S_OK : S_FALSE;
}

std::uint32_t CNameContainer::GetIDOfName(CString text) const {
  try {
    const std::uint32_t* id = m_IDsByName->Lookup(ToUpper(text));
    return id ? *id : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HRESULT CNameContainer::Rename(std::uint32_t id, CString newText) {
  try {
    if (id == 0 || newText.empty()) return E_FAIL;
    CString* current = m_NamesByID->Lookup(id);
    if (!current) return S_FALSE;
    const CString oldKey = ToUpper(*current);
    CString newKey = ToUpper(newText);
    *current = std::move(newText);
    RemoveKey(oldKey, nullptr);
    EnterKey(std::move(newKey), id);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::Rename(CString oldText, CString newText) {
  try {
    if (oldText.empty() || newText.empty()) return E_FAIL;
    const CString oldKey = ToUpper(oldText);
    std::uint32_t id = 0;
    if (!RemoveKey(oldKey, &id)) return S_FALSE;
    CString newKey = ToUpper(newText);
    EnterName(id, std::move(newText));
    EnterKey(std::move(newKey), id);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

int CNameContainer::GetNumNames() const { return static_cast<int>(m_IDsByName->size()); }

HRESULT CNameContainer::GetAllNamesInContainer(CString* const texts) const {
  try {
    int left = GetNumNames();
    CString* out = texts;
    m_NamesByID->Walk([&](std::uint32_t, const CString& text) {
      if (left-- <= 0) return false;
      *out++ = text;
      return true;
    });
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
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
  try {
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
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
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
