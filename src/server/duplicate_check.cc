// Whether a proposed name collides with a namespace that its container must
// stay apart from: its own names or its own tree, the keywords, the global
// namespace and, from inside the global tree, every target namespace.
#include "nametree/name_server.h"
#include "platform/text.h"

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;

bool Report(CDuplicateHit* hit, Where where, const CNameContainer* holder, std::uint32_t nameID) {
  if (hit) *hit = CDuplicateHit{where, holder ? holder->GetID() : 0, nameID};
  return true;
}

// Searches a top-level container and the namespaces below it for the
// upper-cased text; on a hit, names the container that holds it.
bool FindInTree(CNameContainer* top, const CString& key, Where where, CDuplicateHit* hit) {
  std::uint32_t id = 0;
  if (top->FindNameByKey(key, true, &id) != S_OK) return false;
  const CNameContainer* holder = top->FindContainerOfName(id);
  return Report(hit, where, holder ? holder : top, id);
}

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

  auto inGlobal = [&] {
    for (const auto& top : m_TopLevelContainers) {
      if (top->GetContainerType() == kGlobalContainer && FindInTree(top.get(), key, Where::kGlobal, hit))
        return true;
    }
    return false;
  };
  auto keyword = [&] {
    for (const CString& k : m_Keywords)
      if (k == key) return Report(hit, Where::kKeyword, nullptr, 0);
    return false;
  };

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
    for (const auto& top : m_TopLevelContainers) {
      if (top->GetContainerType() == kTargetContainer && FindInTree(top.get(), key, Where::kTarget, hit))
        return true;
    }
    return false;
  }
  // Every top-level container that carries the root's ID is the root's namespace.
  for (const auto& top : m_TopLevelContainers) {
    if (top->GetID() == root->GetID() && FindInTree(top.get(), key, Where::kOwnTree, hit)) return true;
  }
  return inGlobal();
}

HRESULT CNameServer::FindNameInGlobalContainer(CString name, std::uint32_t* pID) const {
  for (const auto& top : m_TopLevelContainers) {
    if (top->GetContainerType() != kGlobalContainer) continue;
    std::uint32_t id = 0;
    if (top->FindName(name, true, &id) == S_OK) {
      if (pID) *pID = id;
      return S_OK;
    }
  }
  return S_FALSE;
}

bool CNameServer::IsGlobalName(CString text) const {
  return FindNameInGlobalContainer(std::move(text), nullptr) == S_OK;
}

bool CNameServer::FindNameInTargetNameSpace(CString name, std::uint32_t containerID) const {
  for (const auto& top : m_TopLevelContainers) {
    if (containerID == kAllTargets && top->GetContainerType() == kTargetContainer) {
      if (top->FindName(name, true, nullptr) == S_OK) return true;
      continue;
    }
    if (top->GetID() == containerID && top->FindName(name, true, nullptr) == S_OK) return true;
  }
  return false;
}

}  // namespace nametree
