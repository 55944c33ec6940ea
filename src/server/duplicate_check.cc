// Whether a proposed name collides with a namespace that its container must
// stay apart from: its own names or its own tree, the keywords, the global
// namespace and, from inside the global tree, every target namespace.
#include <algorithm>
#include <functional>

#include "container/tree_index.h"
#include "nametree/name_server.h"
#include "platform/text.h"

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;
using TopFilter = std::function<bool(const CNameContainer*)>;

bool Report(CDuplicateHit* hit, Where where, const CNameContainer* holder, std::uint32_t nameID) {
  if (hit) *hit = CDuplicateHit{where, holder ? holder->GetID() : 0, nameID};
  return true;
}

// The first tree (among those wantTop accepts) that holds the upper-cased
// text; on a hit, names the first container of that tree holding its ID.
bool FindInTrees(const CTreeIndex& index, const CString& key, const TopFilter& wantTop, Where where,
                 CDuplicateHit* hit) {
  const CNameContainer* found = index.FirstTextHolder(key, wantTop);
  if (!found) return false;
  std::uint32_t id = 0;
  found->FindNameByKey(key, false, &id);
  const CNameContainer* top = CTreeIndex::TopOf(found);
  const CNameContainer* holder = index.FirstHolderOfName(id, top);
  return Report(hit, where, holder ? holder : top, id);
}

bool IsGlobalTop(const CNameContainer* top) { return top->GetContainerType() == kGlobalContainer; }
bool IsTargetTop(const CNameContainer* top) { return top->GetContainerType() == kTargetContainer; }

}  // namespace

bool CNameServer::IsDuplicateName(std::uint32_t containerID, CString name, bool confine) const {
  return FindDuplicate(containerID, name, confine, nullptr);
}

bool CNameServer::FindDuplicate(std::uint32_t containerID, const CString& name, bool confine,
                                CDuplicateHit* hit) const {
  if (hit) *hit = CDuplicateHit{};
  CNameContainer* container = GetContainer(containerID);
  if (!container) return false;
  const std::int16_t type = container->GetContainerType();
  // Every namespace is searched by the same key: upper-case it once.
  const CString key = ToUpper(name);
  const CTreeIndex& index = *m_pIndex;

  auto inGlobal = [&] {
    if (!hit) return index.TextInGlobalTrees(key);
    return FindInTrees(index, key, IsGlobalTop, Where::kGlobal, hit);
  };
  auto keyword = [&] { return m_KeywordSet.count(key) && Report(hit, Where::kKeyword, nullptr, 0); };

  if (type == kOrdinaryContainer || (type == kLocalCheckContainer && confine)) {
    std::uint32_t id = 0;
    if (container->FindNameByKey(key, false, &id) == S_OK) return Report(hit, Where::kOwnContainer, container, id);
    return keyword() || inGlobal();
  }

  CNameContainer* root = container->FindRootContainer();
  if (!root) return false;
  if (keyword()) return true;
  if (root->IsGlobalContainer()) {
    if (inGlobal()) return true;
    if (!hit) return index.TextInTargetTrees(key);
    return FindInTrees(index, key, IsTargetTop, Where::kTarget, hit);
  }
  // The root's namespace is every top-level container carrying its ID
  // (and, for the all-targets ID, every target).
  const std::uint32_t rootID = root->GetID();
  const std::vector<CNameContainer*> tops = index.TopsWithID(rootID);
  if (!hit) {
    for (const CNameContainer* top : tops)
      if (index.TextInTree(top, key)) return true;
    if (rootID == kAllTargets && index.TextInTargetTrees(key)) return true;
  } else {
    const TopFilter own = [&](const CNameContainer* top) {
      return (rootID == kAllTargets && IsTargetTop(top)) || std::find(tops.begin(), tops.end(), top) != tops.end();
    };
    if (FindInTrees(index, key, own, Where::kOwnTree, hit)) return true;
  }
  return inGlobal();
}

HRESULT CNameServer::FindNameInGlobalContainer(CString name, std::uint32_t* pID) const {
  MakeUpper(name);
  if (!pID) return m_pIndex->TextInGlobalTrees(name) ? S_OK : S_FALSE;
  const CNameContainer* found = m_pIndex->FirstTextHolder(name, IsGlobalTop);
  if (!found) return S_FALSE;
  found->FindNameByKey(name, false, pID);
  return S_OK;
}

bool CNameServer::IsGlobalName(CString text) const {
  return FindNameInGlobalContainer(std::move(text), nullptr) == S_OK;
}

bool CNameServer::FindNameInTargetNameSpace(CString name, std::uint32_t containerID) const {
  MakeUpper(name);
  if (containerID == kAllTargets && m_pIndex->TextInTargetTrees(name)) return true;
  for (const CNameContainer* top : m_pIndex->TopsWithID(containerID))
    if (m_pIndex->TextInTree(top, name)) return true;
  return false;
}

}  // namespace nametree
