// Adding, deleting and renaming names. Each operation runs its checks in a
// fixed order before it changes anything (the order decides which refusal
// the host sees), and only a change that was made is notified.
#include "container/container_tables.h"
#include "container/tree_index.h"
#include "nametree/name_server.h"
#include "platform/text.h"
#include "server/outcome.h"
#include <new>

namespace nametree {

namespace {
// Keys of names are short: one buffer kept from call to call spares a
// checked add an allocation. A longer key gets its own.
constexpr std::size_t kKeptKeyUnits = 64;
thread_local CString t_keptKey;

using outcome::Reason;
using outcome::Refuse;
}  // namespace

// What PlanAdd hands the add: the key and hash made once for the checks.
struct CNameServer::AddPlan {
  CNameContainer* container = nullptr;
  CString ownKey;
  CString* key = nullptr;
  std::uint64_t hash = 0;
  ContainerAccess::PendingName add{};
};

// Inlined into both callers: a call of its own costs a checked add a few percent.
[[gnu::always_inline]] inline HRESULT CNameServer::PlanAdd(std::uint32_t containerID, const CString& text,
                                                           std::uint32_t kind, bool checkDuplicates, bool confine,
                                                           CNameRefusal* why, AddPlan* plan) const {
  if (containerID == 0) return Refuse(why, E_FAIL, Reason::kNoContainer);
  // The container is found, and the name added, in two halves each, so
  // that the name rule, the key and the checks run while the memory the
  // next step reads arrives. The refusals keep their order: an invalid
  // name before a missing container.
  const CTreeIndex::ContainerSearch search = m_pIndex->StartFindContainer(containerID);
  if (kind != kAllowLeadingUnderscore && !IsValidNameText(text, kind)) {
    if (why) ExplainInvalidName(text, kind, &why->rule);
    return Refuse(why, E_NAME_INVALID, Reason::kInvalidName);
  }
  CNameContainer* container = m_pIndex->FinishFindContainer(search);
  // The checks, the tables and the index look the name up by one key and
  // one hash, each made once.
  CString& key = *(plan->key = text.size() <= kKeptKeyUnits ? &t_keptKey : &plan->ownKey);
  // mutate: kept-key-not-restarted
  key.assign(text);
  MakeUpper(key);
  // mutate: add-hashes-text-as-typed
  plan->hash = m_pIndex->TextHashAhead(key);
  if (!container) return Refuse(why, E_FAIL, Reason::kNoContainer);
  plan->container = container;
  plan->add = ContainerAccess::StartAddName(*container);
  if (checkDuplicates) {
    CDuplicateHit hit;
    // A verdict that names no collision is the search running out of memory.
    if (FindDuplicateOfKey(*container, key, plan->hash, confine, &hit)) {
      const Reason reason = outcome::OfHit(hit);
      if (reason == Reason::kOutOfMemory) return Refuse(why, E_FAIL, reason);
      if (why) why->hit = hit;
      return Refuse(why, E_NAME_DUPLICATE, reason);
    }
  }
  // Refused here rather than at Save, when the work would be lost.
  // mutate: entry-limit-off-by-one
  if (container->GetNumNameIDs() >= kMaxEntriesPerTable) return Refuse(why, E_FAIL, Reason::kFull);
  return S_OK;
}

HRESULT CNameServer::JudgeAddName(std::uint32_t containerID, const CString& text, std::uint32_t kind,
                                  bool checkDuplicates, bool confine, CNameRefusal* why) const {
  if (why) *why = {};
  try {
    AddPlan plan;
    // mutate: judge-add-adds
    return PlanAdd(containerID, text, kind, checkDuplicates, confine, why, &plan);
  } catch (const std::bad_alloc&) {
    return Refuse(why, E_FAIL, Reason::kOutOfMemory);
  }
}

HRESULT CNameServer::AddName(std::uint32_t& id, std::uint32_t containerID, CString text, std::uint32_t kind,
                             bool checkDuplicates, bool confine, CNameRefusal* why) {
  if (why) *why = {};
  try {
    AddPlan plan;
    if (const HRESULT hr = PlanAdd(containerID, text, kind, checkDuplicates, confine, why, &plan); hr != S_OK)
      return hr;
    // mutate: add-key-as-typed
    const std::uint32_t added = ContainerAccess::FinishAddName(plan.add, text, *plan.key, plan.hash);
    // Out of memory, or out of IDs: a wrapped counter would reissue IDs
    // that documents hold.
    // mutate: add-exhausted-as-memory
    if (added == 0) return Refuse(why, E_FAIL, outcome::Exhausted(1));
    // mutate: add-leaves-clean
    id = added;
    m_bDirty = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return Refuse(why, E_FAIL, Reason::kOutOfMemory);
  }
}

HRESULT CNameServer::AddName(std::uint32_t& id, std::uint32_t containerID, CString text, std::uint32_t kind,
                             bool checkDuplicates, bool confine) {
  return AddName(id, containerID, std::move(text), kind, checkDuplicates, confine, nullptr);
}

HRESULT CNameServer::AddName(std::uint32_t& id, std::uint32_t containerID, CString text, std::uint32_t kind,
                             bool checkDuplicates) {
  return AddName(id, containerID, std::move(text), kind, checkDuplicates, false);
}

HRESULT CNameServer::DeleteName(std::uint32_t containerID, std::uint32_t nameID, bool notify) {
  return DeleteName(containerID, nameID, notify, nullptr);
}

HRESULT CNameServer::DeleteName(std::uint32_t containerID, std::uint32_t nameID, bool notify, CNameRefusal* why) {
  if (why) *why = {};
  try {
    // mutate: delete-refusal-unexplained
    if (nameID == 0) return Refuse(why, E_FAIL, Reason::kNoName);
    CNameContainer* container = GetContainer(containerID);
    if (container) {
      const HRESULT hr = container->DeleteName(nameID);
      if (hr != S_OK) return Refuse(why, hr, hr == E_OUTOFMEMORY ? Reason::kOutOfMemory : Reason::kNoName);
    }
    // Without a container nothing was deleted, so there is nothing to tell the
    // host; the call still counts as an edit, as a deletion would.
    if (notify && container) PostNotification(kNameWasDeleted, container->GetID(), nameID, CString(), CString());
    m_bDirty = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return Refuse(why, E_OUTOFMEMORY, Reason::kOutOfMemory);
  }
}

HRESULT CNameServer::Rename(std::uint32_t containerID, std::uint32_t nameID, CString newText, std::uint32_t kind,
                            bool notify, bool confine, CNameRefusal* why) {
  if (why) *why = {};
  try {
    if (nameID == 0) return Refuse(why, E_FAIL, Reason::kNoName);
    if (newText.empty()) return Refuse(why, E_FAIL, Reason::kEmpty);
    CNameContainer* container = nullptr;
    if (containerID != 0) {
      container = GetContainer(containerID);
    } else {
      container = FindContainerOfName(nameID);
      if (container) containerID = container->GetID();
    }
    if (!container) return Refuse(why, E_FAIL, containerID != 0 ? Reason::kNoContainer : Reason::kNoName);

    CString current;
    container->FindNameByID(nameID, &current);
    if (newText == current) return S_FALSE;
    if (ExplainInvalidName(newText, kind, why ? &why->rule : nullptr))
      return Refuse(why, E_NAME_INVALID, Reason::kInvalidName);
    // A change of letter case only must not collide with the name itself.
    // mutate: case-only-rename-refused
    if (CompareNoCase(newText, current) != 0 && IsDuplicateName(containerID, newText, confine, why))
      return E_NAME_DUPLICATE;

    const HRESULT hr = container->Rename(nameID, newText);
    if (hr != S_OK) return Refuse(why, hr, hr == E_OUTOFMEMORY ? Reason::kOutOfMemory : Reason::kNoName);
    // mutate: rename-not-notified
    if (notify) PostNotification(kNameChanged, containerID, nameID, current, newText);
    m_bDirty = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return Refuse(why, E_OUTOFMEMORY, Reason::kOutOfMemory);
  }
}

HRESULT CNameServer::Rename(std::uint32_t containerID, std::uint32_t nameID, CString newText, std::uint32_t kind,
                            bool notify, bool confine) {
  return Rename(containerID, nameID, std::move(newText), kind, notify, confine, nullptr);
}

HRESULT CNameServer::Rename(std::uint32_t containerID, CString oldText, CString newText, std::uint32_t kind,
                            bool notify, bool confine) {
  try {
    if (oldText.empty() || newText.empty() || containerID == 0) return E_FAIL;
    if (CompareNoCase(oldText, newText) == 0) return S_OK;
    if (!IsValidName(newText, kind)) return E_NAME_INVALID;
    if (IsDuplicateName(containerID, newText, confine)) return E_NAME_DUPLICATE;
    CNameContainer* container = GetContainer(containerID);
    if (!container) return E_FAIL;

    std::uint32_t nameID = 0;
    HRESULT hr = container->FindIDByName(oldText, &nameID);
    if (hr != S_OK) return hr;
    hr = container->Rename(nameID, newText);
    if (hr != S_OK) return hr;
    if (notify) PostNotification(kNameChanged, containerID, nameID, oldText, newText);
    m_bDirty = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace nametree
