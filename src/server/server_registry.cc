#include "nametree/name_server.h"

#include "container/object_counters.h"
#include "container/subtree_walk.h"
#include "container/tree_index.h"
#include "server/outcome.h"

#include <algorithm>
#include <new>

namespace nametree {

void CTreeIndexDeleter::operator()(CTreeIndex* index) const { delete index; }

CNameServer::CNameServer() : m_pIndex(new CTreeIndex) {}

CNameServer::~CNameServer() { Shutdown(); }

void CNameServer::Shutdown() {
  // The whole tree goes: nothing needs unlisting one by one.
  m_pIndex->BeginTeardown();
  for (auto& c : m_TopLevelContainers) {
    c->Shutdown();
    c.reset();
  }
  m_TopLevelContainers.clear();
  m_pIndex->Reset();
  m_pLegacy.reset();
  m_Keywords.clear();
  m_KeywordSet.clear();
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

CNameContainer* CNameServer::GetContainer(std::uint32_t id) const { return m_pIndex->FindContainer(id); }

CNameContainer* CNameServer::FindContainerOfName(std::uint32_t nameID) const {
  return m_pIndex->FirstHolderOfName(nameID);
}

std::uint32_t CNameServer::GetGlobalContainerID() const {
  for (const auto& c : m_TopLevelContainers)
    if (c->IsGlobalContainer()) return c->GetID();
  return 0;
}

HRESULT CNameServer::GetTargetsContainerIDList(std::vector<std::uint32_t>& ids) const {
  try {
    for (const auto& c : m_TopLevelContainers)
      if (c->GetContainerType() == kTargetContainer) ids.push_back(c->GetID());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::vector<std::uint32_t> CNameServer::GetTopLevelContainerIDs() const {
  std::vector<std::uint32_t> ids;
  ids.reserve(m_TopLevelContainers.size());
  for (const auto& c : m_TopLevelContainers) ids.push_back(c->GetID());
  return ids;
}

std::vector<CNameContainer*> CNameServer::GetTopLevelContainers() const {
  std::vector<CNameContainer*> tops;
  tops.reserve(m_TopLevelContainers.size());
  for (const auto& c : m_TopLevelContainers) tops.push_back(c.get());
  return tops;
}

std::string CNameServer::CheckInvariants() const {
  try {
    std::string fault = m_pIndex->CheckInvariants(GetTopLevelContainers());
    // Then each container's own parts.
    for (const auto& top : m_TopLevelContainers) {
      SubtreeWalk::Run(*top, [&](const CNameContainer& c, std::size_t) {
        if (fault.empty()) fault = TablesOf(c).CheckTables();
        if (fault.empty()) fault = CheckCounters(c);
        if (std::string units = fault.empty() ? TablesOf(c).CheckUnits() : std::string(); !units.empty())
          fault = "units " + units + " (container " + std::to_string(c.GetID()) + ")";
        return fault.empty() ? WalkStep::kDescend : WalkStep::kStop;
      });
    }
    return fault;
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
}

std::uint32_t CNameServer::AddContainer(std::uint32_t parentID, std::int16_t type) {
  return AddContainer(parentID, type, nullptr);
}

std::uint32_t CNameServer::AddContainer(std::uint32_t parentID, std::int16_t type, CNameRefusal* why) {
  using outcome::Reason;
  auto refuse = [why](Reason reason) -> std::uint32_t {
    outcome::Refuse(why, S_OK, reason);
    return 0;
  };
  if (why) *why = {};
  try {
    std::uint32_t id = 0;
    if (parentID != 0) {
      CNameContainer* parent = GetContainer(parentID);
      if (!parent) return refuse(Reason::kNoContainer);
      // Refused here rather than at Save, when the work would be lost.
      // mutate: container-limit-unexplained
      if (parent->GetNumSubContainers() >= kMaxEntriesPerTable) return refuse(Reason::kFull);
      id = parent->AddContainer(type);
      // A sub-container draws two IDs (see CNameContainer::AddContainer).
      if (id == 0) return refuse(outcome::Exhausted(2));
    } else {
      if (m_TopLevelContainers.size() >= static_cast<std::size_t>(kMaxEntriesPerTable)) return refuse(Reason::kFull);
      if (CNameContainer::GetRemainingNameIDs() < 1) return refuse(Reason::kOutOfIds);
      // A container that cannot be made or listed is reported as no ID,
      // with nothing changed.
      const std::uint32_t last = CNameContainer::GetLastIssuedNameID();
      try {
        if (m_TopLevelContainers.size() == m_TopLevelContainers.capacity())
          m_TopLevelContainers.reserve(2 * m_TopLevelContainers.size() + 1);
        auto c = std::make_unique<CNameContainer>(false);
        c->SetContainerType(type);
        id = c->GetID();
        m_pIndex->TopAppended(c.get());
        m_TopLevelContainers.push_back(std::move(c));
      } catch (const std::bad_alloc&) {
        CNameContainer::SetLastIssuedNameID(last);
        return refuse(Reason::kOutOfMemory);
      }
    }
    m_bDirty = true;
    return id;
  } catch (const std::bad_alloc&) {
    return refuse(Reason::kOutOfMemory);
  }
}

HRESULT CNameServer::DeleteContainer(std::uint32_t id, bool notify) { return DeleteContainer(id, notify, nullptr); }

HRESULT CNameServer::DeleteContainer(std::uint32_t id, bool notify, CNameRefusal* why) {
  using outcome::Reason;
  using outcome::Refuse;
  if (why) *why = {};
  try {
    CNameContainer* c = GetContainer(id);
    if (!c) return S_OK;
    if (CNameContainer* parent = c->GetParent()) {
      if (parent->DeleteContainer(id) != S_OK) return Refuse(why, E_FAIL, Reason::kNoContainer);
    } else {
      // The list is in the index's list order, so the entry is found by halving.
      const CNameContainer* first = m_pIndex->FirstTopWithID(id);
      if (!first) return Refuse(why, E_FAIL, Reason::kNoContainer);
      auto it = std::lower_bound(m_TopLevelContainers.begin(), m_TopLevelContainers.end(), CTreeIndex::ListOrder(first),
                                 [](const auto& p, std::uint64_t order) { return CTreeIndex::ListOrder(p.get()) < order; });
      m_pIndex->TopRemoving(it->get());
      std::unique_ptr<CNameContainer> dead = std::move(*it);
      m_TopLevelContainers.erase(it);
      dead->Shutdown();
    }
    if (notify) PostNotification(kContainerWasDeleted, id, 0, CString(), CString());
    m_bDirty = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return Refuse(why, E_OUTOFMEMORY, Reason::kOutOfMemory);
  }
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
