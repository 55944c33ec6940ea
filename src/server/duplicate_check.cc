// Whether a proposed name collides with a namespace that its container must
// stay apart from: its own names or its own tree, the keywords, the global
// namespace and, from inside the global tree, every target namespace.
#include "container/tree_index.h"
#include "nametree/name_server.h"
#include "platform/text.h"
#include "server/namespace_policy.h"
#include "server/outcome.h"
#include <new>

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;
using Trees = CTreeIndex::TopSet;

bool Report(CDuplicateHit* hit, Where where, const CNameContainer* holder, std::uint32_t nameID) {
  if (hit) *hit = CDuplicateHit{where, holder ? holder->GetID() : 0, nameID};
  return true;
}

// Whether the trees hold the upper-cased text; on a hit, names the first
// container of the first such tree that holds its ID.
bool FindInTrees(const CTreeIndex& index, const CString& key, std::uint64_t hash, const Trees& trees, Where where,
                 CDuplicateHit* hit) {
  if (!hit) return index.TextIn(key, trees, hash);
  const CNameContainer* found = index.FirstTextHolder(key, trees, hash);
  if (!found) return false;
  std::uint32_t id = 0;
  found->FindNameByKey(key, false, &id);
  const CNameContainer* top = CTreeIndex::TopOf(found);
  const CNameContainer* holder = index.FirstHolderOfName(id, top);
  return Report(hit, where, holder ? holder : top, id);
}

const Trees kGlobalTrees{.global = true};
const Trees kTargetTrees{.target = true};

}  // namespace

bool CNameServer::IsDuplicateName(std::uint32_t containerID, CString name, bool confine) const {
  return FindDuplicate(containerID, name, confine, nullptr);
}

bool CNameServer::IsDuplicateName(std::uint32_t containerID, const CString& name, bool confine,
                                  CNameRefusal* why) const {
  if (!why) return FindDuplicate(containerID, name, confine, nullptr);
  *why = {};
  if (!FindDuplicate(containerID, name, confine, &why->hit)) return false;
  why->reason = outcome::OfHit(why->hit);
  return true;
}

bool CNameServer::FindDuplicate(std::uint32_t containerID, const CString& name, bool confine,
                                CDuplicateHit* hit) const {
  try {
    if (hit) *hit = CDuplicateHit{};
    // Every namespace is searched by the same key and hash, made once while
    // the container is found.
    const CTreeIndex::ContainerSearch search = m_pIndex->StartFindContainer(containerID);
    const CString key = ToUpper(name);
    const std::uint64_t hash = key.empty() ? 0 : m_pIndex->TextHashAhead(key);
    CNameContainer* container = m_pIndex->FinishFindContainer(search);
    return container && FindDuplicateOfKey(*container, key, hash, confine, hit);
  } catch (const std::bad_alloc&) {
    return true;
  }
}

bool CNameServer::FindDuplicateOfKey(CNameContainer& container, const CString& key, std::uint64_t hash, bool confine,
                                     CDuplicateHit* hit) const {
  try {
    if (hit) *hit = CDuplicateHit{};
    const std::int16_t type = container.GetContainerType();
    const CTreeIndex& index = *m_pIndex;
    const bool alone = JudgedAlone(type, confine);
    CNameContainer* root = alone ? nullptr : container.FindRootContainer();
    if (!alone && !root) return false;
    auto search = [&](Where where) {
      switch (where) {
        case Where::kOwnContainer: {
          const std::uint32_t* id = index.OwnID(&container, key, hash);
          return id && Report(hit, where, &container, *id);
        }
        case Where::kKeyword:
          // mutate: keyword-check-skipped
          return m_KeywordSet.count(key) && Report(hit, where, nullptr, 0);
        case Where::kGlobal:
          return FindInTrees(index, key, hash, kGlobalTrees, where, hit);
        case Where::kTarget:
          return FindInTrees(index, key, hash, kTargetTrees, where, hit);
        case Where::kOwnTree: {
          // The root's namespace: every top-level container carrying its ID
          // (and, for the all-targets ID, every target).
          const std::uint32_t rootID = root->GetID();
          const Trees own{.target = rootID == kAllTargets, .byID = true, .topID = rootID};
          return FindInTrees(index, key, hash, own, where, hit);
        }
        case Where::kNone:
          break;
      }
      return false;
    };
    // Every namespace but the keywords is searched through the index.
    const bool held = !hash || index.TextMayBeHeld(hash);
    for (Where where : NamespacesApart(type, confine, root && root->IsGlobalContainer()))
      // mutate: unheld-text-skips-keywords
      if ((held || where == Where::kKeyword) && search(where)) return true;
    return false;
  } catch (const std::bad_alloc&) {
    return true;
  }
}

HRESULT CNameServer::FindNameInGlobalContainer(CString name, std::uint32_t* pID) const {
  MakeUpper(name);
  return FindKeyInGlobalTrees(name, 0, pID);
}

HRESULT CNameServer::FindKeyInGlobalTrees(const CString& key, std::uint64_t hash, std::uint32_t* pID) const {
  if (!pID) return m_pIndex->TextIn(key, kGlobalTrees, hash) ? S_OK : S_FALSE;
  const CNameContainer* found = m_pIndex->FirstTextHolder(key, kGlobalTrees, hash);
  if (!found) return S_FALSE;
  found->FindNameByKey(key, false, pID);
  return S_OK;
}

bool CNameServer::IsGlobalName(CString text) const {
  try {
    return FindNameInGlobalContainer(std::move(text), nullptr) == S_OK;
  } catch (const std::bad_alloc&) {
    return true;
  }
}

bool CNameServer::FindNameInTargetNameSpace(CString name, std::uint32_t containerID) const {
  MakeUpper(name);
  return m_pIndex->TextIn(name, Trees{.target = containerID == kAllTargets, .byID = true, .topID = containerID});
}

}  // namespace nametree
