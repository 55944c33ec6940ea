// Whether a proposed name collides with a namespace that its container must
// stay apart from: its own names or its own tree, the keywords, the global
// namespace and, from inside the global tree, every target namespace.
#include "nametree/name_server.h"

namespace nametree {

bool CNameServer::IsDuplicateName(std::uint32_t containerID, CString name, bool confine) const {
  CNameContainer* container = GetContainer(containerID);
  if (!container) return false;
  const std::int16_t type = container->GetContainerType();

  if (type == kOrdinaryContainer || (type == kLocalCheckContainer && confine)) {
    std::uint32_t id = 0;
    if (container->FindIDByName(name, &id) == S_OK) return true;
    if (IsKeyword(name)) return true;
    return FindNameInGlobalContainer(name, nullptr) == S_OK;
  }

  CNameContainer* root = container->FindRootContainer();
  if (!root) return false;
  if (IsKeyword(name)) return true;
  if (root->IsGlobalContainer()) {
    if (FindNameInGlobalContainer(name, nullptr) == S_OK) return true;
    return FindNameInTargetNameSpace(name, kAllTargets);
  }
  if (FindNameInTargetNameSpace(name, root->GetID())) return true;
  return FindNameInGlobalContainer(name, nullptr) == S_OK;
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
