// Read-only lookups of names and IDs through the server.
#include "nametree/name_server.h"

#include "container/tree_index.h"
#include "platform/text.h"
#include <new>

namespace nametree {

namespace {

// The shared protocol of the list getters: the count is reported before the
// capacity is checked, so a caller learns the size it needs and asks again.
// A null array with names to deliver is refused rather than written through.
template <class Fill>
HRESULT ListNames(const CNameContainer* container, std::uint32_t containerID, int capacity, int& count,
                  bool arraysGiven, Fill fill) {
  if (containerID == 0) return E_FAIL;
  if (!container) return S_FALSE;
  count = container->GetNumNames();
  if (capacity < count) return S_FALSE;
  if (count > 0 && !arraysGiven) return E_POINTER;
  return fill();
}

}  // namespace

bool CNameServer::FindName(std::uint32_t containerID, CString name, bool descend) const {
  try {
    if (containerID == 0 || name.empty()) return false;
    MakeUpper(name);
    const std::uint64_t hash = m_pIndex->TextHashAhead(name);
    return m_pIndex->NameSearchedFor(containerID, name, hash, descend);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

HRESULT CNameServer::GetName(std::uint32_t nameID, CString& text) const {
  try {
    const CNameContainer* holder = m_pIndex->FirstHolderOfName(nameID);
    CString found;
    if (!holder || holder->FindNameByID(nameID, &found) != S_OK) return E_FAIL;
    text = std::move(found);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameServer::GetNames(std::uint32_t containerID, int capacity, int& count, CString* names) const {
  try {
    const CNameContainer* c = GetContainer(containerID);
    return ListNames(c, containerID, capacity, count, names != nullptr,
                     [&] { return c->GetAllNamesInContainer(names); });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameServer::GetNameIDs(std::uint32_t containerID, int capacity, int& count,
                                std::uint32_t* ids) const {
  try {
    const CNameContainer* c = GetContainer(containerID);
    return ListNames(c, containerID, capacity, count, ids != nullptr,
                     [&] { return c->GetAllIDsInContainer(ids); });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CNameServer::GetNamesAndIDs(std::uint32_t containerID, int capacity, int& count,
                                    std::uint32_t* ids, CString* names) const {
  try {
    const CNameContainer* c = GetContainer(containerID);
    return ListNames(c, containerID, capacity, count, ids != nullptr && names != nullptr,
                     [&] { return c->GetAllNameAndIDsInContainer(names, ids); });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::uint32_t CNameServer::GetID(std::uint32_t containerID, CString name) const {
  try {
    // The failure code stands in for an ID here; hosts compare against it.
    if (containerID == 0) return static_cast<std::uint32_t>(E_FAIL);
    // An empty text is no global name, but a container's own lookup takes it.
    if (name.empty()) {
      const CNameContainer* c = GetContainer(containerID);
      return c ? c->GetIDOfName(std::move(name)) : 0;
    }
    // Both lookups go by one key and hash.
    MakeUpper(name);
    const std::uint64_t hash = m_pIndex->TextHashAhead(name);
    const std::uint32_t* own = m_pIndex->OwnIDIn(containerID, name, hash);
    // mutate: get-id-own-before-global
    std::uint32_t id = 0;
    if (FindKeyInGlobalTrees(name, hash, &id) == S_OK) return id;
    return own ? *own : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int CNameServer::GetNameSize(std::uint32_t containerID) const {
  const CNameContainer* c = GetContainer(containerID);
  return c ? c->GetNumNames() : 0;
}

}  // namespace nametree
