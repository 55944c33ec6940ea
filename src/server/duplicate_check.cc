// Whether a proposed name collides with a namespace that its container must
// stay apart from: its own names or its own tree, the keywords, the global
// namespace and, from inside the global tree, every target namespace.
#include "container/tree_index.h"
#include "nametree/name_server.h"
#include "platform/text.h"
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
bool FindInTrees(const CTreeIndex& index, const CString& key, const Trees& trees, Where where,
                 CDuplicateHit* hit) {
  if (!hit) return index.TextIn(key, trees);
  const CNameContainer* found = index.FirstTextHolder(key, trees);
  if (!found) return false;
  std::uint32_t id = 0;
  found->FindNameByKey(key, false, &id);
  const CNameContainer* top = CTreeIndex::TopOf(found);
  const CNameContainer* holder = index.FirstHolderOfName(id, top);
  return Report(hit, where, holder ? holder : top, id);
}

const Trees kGlobalTrees{true, false, {}};
const Trees kTargetTrees{false, true, {}};

}  // namespace

bool CNameServer::IsDuplicateName(std::uint32_t containerID, CString name, bool confine) const {
  return FindDuplicate(containerID, name, confine, nullptr);
}

bool CNameServer::FindDuplicate(std::uint32_t containerID, const CString& name, bool confine,
                                CDuplicateHit* hit) const {
  try {
    if (hit) *hit = CDuplicateHit{};
    CNameContainer* container = GetContainer(containerID);
    if (!container) return false;
    const std::int16_t type = container->GetContainerType();
    // Every namespace is searched by the same key: upper-case it once.
    const CString key = ToUpper(name);
    const CTreeIndex& index = *m_pIndex;
    auto inGlobal = [&] { return FindInTrees(index, key, kGlobalTrees, Where::kGlobal, hit); };
    auto keyword = [&] { return m_KeywordSet.count(key) && Report(hit, Where::kKeyword, nullptr, 0); };

    if (type == kOrdinaryContainer || (type == kLocalCheckContainer && confine)) {
      std::uint32_t id = 0;
      if (container->FindNameByKey(key, false, &id) == S_OK) return Report(hit, Where::kOwnContainer, container, id);
      return keyword() || inGlobal();
    }

    CNameContainer* root = container->FindRootContainer();
    if (!root) return false;
    if (keyword()) return true;
    if (root->IsGlobalContainer()) return inGlobal() || FindInTrees(index, key, kTargetTrees, Where::kTarget, hit);
    // The root's namespace: every top-level container carrying its ID (and,
    // for the all-targets ID, every target).
    const std::uint32_t rootID = root->GetID();
    Trees own{false, rootID == kAllTargets, {}};
    for (const CNameContainer* top : index.TopsWithID(rootID)) own.tops.push_back(top);
    return FindInTrees(index, key, own, Where::kOwnTree, hit) || inGlobal();
  } catch (const std::bad_alloc&) {
    return true;
  }
}

HRESULT CNameServer::FindNameInGlobalContainer(CString name, std::uint32_t* pID) const {
  MakeUpper(name);
  if (!pID) return m_pIndex->TextIn(name, kGlobalTrees) ? S_OK : S_FALSE;
  const CNameContainer* found = m_pIndex->FirstTextHolder(name, kGlobalTrees);
  if (!found) return S_FALSE;
  found->FindNameByKey(name, false, pID);
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
  Trees trees{false, containerID == kAllTargets, {}};
  for (const CNameContainer* top : m_pIndex->TopsWithID(containerID)) trees.tops.push_back(top);
  return m_pIndex->TextIn(name, trees);
}

}  // namespace nametree
