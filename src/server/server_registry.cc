#include "nametree/name_server.h"

#include "container/tree_generation.h"
#include "server/container_index.h"

#include <algorithm>
#include <new>

namespace nametree {

CNameServer::CNameServer() = default;

CNameServer::~CNameServer() { Shutdown(); }

void CNameServer::Shutdown() {
  for (auto& c : m_TopLevelContainers) {
    c->Shutdown();
    c.reset();
  }
  m_TopLevelContainers.clear();
  NoteTreeChange();
  m_pLegacy.reset();
  m_Keywords.clear();
  SetNotification(false);
  m_pNotificationManager = nullptr;
}

HRESULT CNameServer::Initialize(CNotificationManager* manager) {
  if (!manager) return E_FAIL;
  m_pNotificationManager = manager;
  return SetNotification(true) == 0 ? S_OK : E_FAIL;
}

HRESULT CNameServer::SetNotification(bool) { return 0; }

HRESULT CNameServer::ReceiveNotification(std::uint32_t, const CNotification*) { return 0; }

void CContainerIndexDeleter::operator()(CContainerIndex* index) const { delete index; }

CNameContainer* CNameServer::GetContainer(std::uint32_t id) const {
  if (id == 0) return nullptr;
  if (!m_pIndex) m_pIndex.reset(new (std::nothrow) CContainerIndex);
  if (m_pIndex) {
    bool repeated = false;
    try {
      CNameContainer* found = m_pIndex->Find(m_TopLevelContainers, id, &repeated);
      if (!repeated) return found;
    } catch (const std::bad_alloc&) {
      m_pIndex.reset();  // without memory for the index, the walk still answers
    }
  }
  // Repeated IDs: the first found in top-level order, each with its subtree.
  for (const auto& c : m_TopLevelContainers) {
    if (c->GetID() == id) return c.get();
    if (c->GetNumSubContainers() > 0) {
      if (CNameContainer* found = c->FindContainer(id)) return found;
    }
  }
  return nullptr;
}

CNameContainer* CNameServer::FindContainerOfName(std::uint32_t nameID) const {
  for (const auto& c : m_TopLevelContainers) {
    if (CNameContainer* found = c->FindContainerOfName(nameID)) return found;
  }
  return nullptr;
}

std::uint32_t CNameServer::GetGlobalContainerID() const {
  for (const auto& c : m_TopLevelContainers)
    if (c->IsGlobalContainer()) return c->GetID();
  return 0;
}

HRESULT CNameServer::GetTargetsContainerIDList(std::vector<std::uint32_t>& ids) const {
  for (const auto& c : m_TopLevelContainers)
    if (c->GetContainerType() == kTargetContainer) ids.push_back(c->GetID());
  return S_OK;
}

std::vector<std::uint32_t> CNameServer::GetTopLevelContainerIDs() const {
  std::vector<std::uint32_t> ids;
  ids.reserve(m_TopLevelContainers.size());
  for (const auto& c : m_TopLevelContainers) ids.push_back(c->GetID());
  return ids;
}

std::uint32_t CNameServer::AddContainer(std::uint32_t parentID, std::int16_t type) {
  std::uint32_t id = 0;
  CNameContainer* added = nullptr;
  bool indexed = false;  // the index knew the whole tree before this addition
  if (parentID != 0) {
    CNameContainer* parent = GetContainer(parentID);
    if (!parent) return 0;
    // Refused here rather than at Save, when the work would be lost.
    if (parent->GetNumSubContainers() >= kMaxEntriesPerTable) return 0;
    indexed = m_pIndex && m_pIndex->Current();
    id = parent->AddContainer(type);
    if (id == 0) return 0;
    added = parent->FindContainer(id);
  } else {
    if (m_TopLevelContainers.size() >= static_cast<std::size_t>(kMaxEntriesPerTable)) return 0;
    indexed = m_pIndex && m_pIndex->Current();
    // A container that cannot be made is reported as no ID, not thrown.
    try {
      auto c = std::make_unique<CNameContainer>(false);
      c->SetContainerType(type);
      id = c->GetID();
      added = c.get();
      m_TopLevelContainers.push_back(std::move(c));
    } catch (const std::bad_alloc&) {
      return 0;
    }
  }
  NoteTreeChange();
  // Keeps a tree built container by container from being re-indexed each time.
  if (indexed && added) {
    try {
      m_pIndex->Added(added);
    } catch (const std::bad_alloc&) {
      m_pIndex.reset();
    }
  }
  m_bDirty = true;
  return id;
}

HRESULT CNameServer::DeleteContainer(std::uint32_t id, bool notify) {
  CNameContainer* c = GetContainer(id);
  if (!c) return S_OK;
  if (CNameContainer* parent = c->GetParent()) {
    if (parent->DeleteContainer(id) != S_OK) return E_FAIL;
  } else {
    auto it = std::find_if(m_TopLevelContainers.begin(), m_TopLevelContainers.end(),
                           [id](const auto& p) { return p->GetID() == id; });
    if (it == m_TopLevelContainers.end()) return E_FAIL;
    std::unique_ptr<CNameContainer> dead = std::move(*it);
    m_TopLevelContainers.erase(it);
    NoteTreeChange();
    dead->Shutdown();
  }
  if (notify) PostNotification(kContainerWasDeleted, id, 0, CString(), CString());
  m_bDirty = true;
  return S_OK;
}

void CNameServer::PostNotification(const char16_t* name, std::uint32_t containerID, std::uint32_t nameID,
                                   const CString& oldName, const CString& newName) {
  if (!m_pNotificationManager) return;
  // What the manager answers, or throws, is not the server's concern: the
  // change stands, and nothing leaves the library as an exception.
  try {
    CNotificationPayload payload;
    payload.containerID = containerID;
    payload.nameID = nameID;
    payload.oldName = oldName;
    payload.newName = newName;
    const CNotification record(&payload, this, name);
    m_pNotificationManager->Post(record);
  } catch (...) {
  }
}

}  // namespace nametree
