#include "nametree/name_container.h"

#include "container/container_tables.h"
#include "container/subtree_walk.h"
#include "container/tree_index.h"
#include "container/object_counters.h"
#include "platform/text.h"
#include <new>

namespace nametree {

CNameContainer::CNameContainer(bool bUninitialized)
    : m_ID(0xFFFFFFFFu),
      m_nObjectIndex(-1),
      m_Type(0),
      m_pParent(nullptr) {
  if (!bUninitialized) Initialize();
}

CNameContainer::CNameContainer(CNameContainer* parent, std::uint32_t id, std::int16_t type)
    : CNameContainer(true) {
  m_Tables->ResetChildren(kSubContainerBuckets);
  m_Tables->ResetNames(kNameBuckets);
  m_pParent = parent;
  m_ID = id;
  m_Type = type;
}

CNameContainer::~CNameContainer() { Shutdown(); }

void CNameContainer::Initialize() {
  m_Tables->RemoveAllChildren();
  m_Tables->ResetNames(kNameBuckets);
  m_Tables->ResetChildren(kSubContainerBuckets);
  ChangeID(GetNextNameID());
}

void CNameContainer::Shutdown() {
  m_Tables->RemoveAllChildren();
  m_pParent = nullptr;
  m_Tables->RemoveAllNames();
}

void CNameContainer::ResetContainer() { m_Tables->RemoveAllNames(); }

void CNameContainer::ChangeID(std::uint32_t id) {
  // mutate: index-misses-new-id
  if (CTreeIndex* index = m_Tables->Place().index) index->TopIdChanging(this, id);
  m_ID = id;
}

void CNameContainer::SetContainerType(std::int16_t type) {
  CTreeIndex* index = m_Tables->Place().index;
  // mutate: index-misses-retype
  const bool recount = index && index->TypeChanging(this, type);
  m_Type = type;
  if (recount) index->TypeChanged(this);
}

void CNameContainer::SetParent(CNameContainer* parent) {
  for (const CNameContainer* p = parent; p; p = p->m_pParent)
    if (p == this) return;
  m_pParent = parent;
}

std::uint32_t CNameContainer::AddName(CString text) {
  try {
    return AddNameWithKey(text, ToUpper(text), 0);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::uint32_t CNameContainer::AddNameWithKey(std::u16string_view text, std::u16string_view key, std::uint64_t hash) {
  // mutate: ids-wrap
  if (GetRemainingNameIDs() < 1) return 0;
  const std::uint32_t id = GetNextNameID();
  try {
    m_Tables->EnterName(id, text);
    m_Tables->EnterKey(key, id, hash);
  } catch (const std::bad_alloc&) {
    // Nothing stays of a name that could not be entered, its ID included.
    // mutate: oom-name-left-in-table
    m_Tables->RemoveName(id);
    SetLastIssuedNameID(id - 1);
    return 0;
  }
  return id;
}

HRESULT CNameContainer::DeleteName(std::uint32_t id) {
  try {
    const auto text = id ? m_Tables->Names().Lookup(id) : std::nullopt;
    if (!text) return E_FAIL;
    const CString key = ToUpper(*text);  // made first: the removals need no memory
    m_Tables->RemoveName(id);
    // mutate: delete-keeps-key-of-other-id
    m_Tables->RemoveKey(key, nullptr);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::FindNameByID(std::uint32_t id, CString* pText) const {
  if (id == 0) return E_FAIL;
  const auto text = m_Tables->Names().Lookup(id);
  if (!text) return S_FALSE;
  if (pText) pText->assign(*text);
  return S_OK;
}

HRESULT CNameContainer::FindIDByName(CString text, std::uint32_t* pID) const {
  try {
    if (text.empty()) return E_FAIL;
    const std::uint32_t* id = m_Tables->Keys().Lookup(ToUpper(text));
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
  if (!bRecurse) {
    const std::uint32_t* id = m_Tables->Keys().Lookup(text);
    // mutate: own-search-drops-id
    if (id && pID) *pID = *id;
    return id ? S_OK : S_FALSE;
  }
  // The descent looks up the one upper-cased key at every level, entering
  // only containers of the types a search goes through.
  bool hit = false;
  try {
    SubtreeWalk::Run(*this, [&](const CNameContainer& c, std::size_t depth) {
      const std::int16_t t = c.m_Type;
      if (depth > 0 && !SearchEntersType(t)) return WalkStep::kSkip;
      if (const std::uint32_t* id = TablesOf(c).Keys().Lookup(text)) {
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
    const std::uint32_t* id = m_Tables->Keys().Lookup(ToUpper(text));
    return id ? *id : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

namespace {
// Gives id the text `text` and the key newKey in place of oldKey, leaving
// the tables as removing the old key, setting the text and entering the
// new key would. The steps that need memory go first, each undone without
// any, so that out of memory nothing has changed.
void Relabel(ContainerTables& t, std::uint32_t id, std::u16string_view text, const CString& oldKey,
             const CString& newKey) {
  // A kept key may belong to a twin of the same key, or be gone with one:
  // either way it comes back at the front, naming id.
  const bool keyStays = newKey == oldKey;
  // mutate: rename-kept-key-not-reentered
  if (keyStays && t.Keys().Contains(oldKey)) {
    t.EnterName(id, text);
    // mutate: rename-same-key-not-moved
    t.MoveKeyToFront(oldKey, id);
    return;
  }
  const std::uint32_t* holder = t.Keys().Lookup(newKey);
  const bool held = holder != nullptr;
  const std::uint32_t heldBy = held ? *holder : 0;
  t.EnterKey(newKey, id);
  try {
    t.EnterName(id, text);
  } catch (...) {
    // A held key only takes its value back, in place.
    if (held) {
      // mutate: rename-held-key-not-restored
      t.EnterKey(newKey, heldBy);
    // mutate: rename-new-key-kept
    } else {
      t.RemoveKey(newKey, nullptr);
    }
    throw;
  }
  // mutate: rename-removes-kept-key, rename-old-key-kept
  if (!keyStays) t.RemoveKey(oldKey, nullptr);
}
}  // namespace

HRESULT CNameContainer::Rename(std::uint32_t id, CString newText) {
  try {
    if (id == 0 || newText.empty()) return E_FAIL;
    const auto current = m_Tables->Names().Lookup(id);
    if (!current) return S_FALSE;
    const CString oldKey = ToUpper(*current);
    Relabel(*m_Tables, id, newText, oldKey, ToUpper(newText));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::Rename(CString oldText, CString newText) {
  try {
    if (oldText.empty() || newText.empty()) return E_FAIL;
    const CString oldKey = ToUpper(oldText);
    const std::uint32_t* held = m_Tables->Keys().Lookup(oldKey);
    if (!held) return S_FALSE;
    Relabel(*m_Tables, *held, newText, oldKey, ToUpper(newText));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

int CNameContainer::GetNumNames() const { return static_cast<int>(m_Tables->Keys().size()); }

HRESULT CNameContainer::GetAllNamesInContainer(CString* const texts) const {
  try {
    int left = GetNumNames();
    CString* out = texts;
    m_Tables->Names().Walk([&](std::uint32_t, std::u16string_view text) {
      if (left-- <= 0) return false;
      (out++)->assign(text);
      return true;
    });
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameContainer::GetAllIDsInContainer(std::uint32_t* const ids) const {
  std::uint32_t* out = ids;
  m_Tables->Keys().Walk([&](std::u16string_view, std::uint32_t id) {
    *out++ = id;
    return true;
  });
  return S_OK;
}

HRESULT CNameContainer::GetAllNameAndIDsInContainer(CString* const texts, std::uint32_t* const ids) const {
  try {
    int left = GetNumNames();
    std::size_t i = 0;
    m_Tables->Names().Walk([&](std::uint32_t id, std::u16string_view text) {
      if (left-- <= 0) return false;
      texts[i].assign(text);
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
  if (namesByText) *namesByText = m_Tables->Keys().BucketCount();
  if (subContainers) *subContainers = m_Tables->Children().BucketCount();
  return m_Tables->Names().BucketCount();
}

std::size_t CNameContainer::GetMemoryFootprint() const {
  const ContainerTables& t = *m_Tables;
  return sizeof(*this) + (t.NamesMade() ? sizeof(NameTables) : 0) +
         (t.ChildrenMade() ? sizeof(SubContainerTable) : 0) + t.Children().MemoryUsage() + t.Names().MemoryUsage() +
         t.Keys().MemoryUsage() + t.Units().MemoryUsage() + (m_pCounters ? m_pCounters->MemoryUsage() : 0);
}

}  // namespace nametree
