// Proposals that AddName will take: the candidates of GetNextName, judged
// by the same rule, keywords and namespaces that AddName judges by.
#include "nametree/name_server.h"
#include <new>

namespace nametree {


HRESULT CNameServer::GetNextAcceptedName(std::uint32_t containerID, CString baseName, int digits,
                                         std::uint32_t kind, bool confine, CString* pResult) {
  try {
    auto judge = [&](const CNameContainer& container, const CString& candidate) -> HRESULT {
      // AddName refuses every name into a full container.
      // mutate: accepted-name-limit
      if (container.GetNumNameIDs() >= kMaxEntriesPerTable) return E_FAIL;
      // A container whose own names its duplicate check does not cover would
      // still take a second ID under a text it holds; the proposal stays fresh.
      std::uint32_t id = 0;
      if (container.FindIDByName(candidate, &id) == S_OK) return S_FALSE;
      if (kind != kAllowLeadingUnderscore && !IsValidNameText(candidate, kind)) return E_NAME_INVALID;
      return FindDuplicate(containerID, candidate, confine, nullptr) ? S_FALSE : S_OK;
    };
    return ProposeName(containerID, std::move(baseName), digits, judge, pResult);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace nametree
