// Proposals that AddName will take: the candidates of GetNextName, judged
// by the same rule, keywords and namespaces that AddName judges by.
#include "server/name_candidate.h"

namespace nametree {

using namespace candidate;

HRESULT CNameServer::GetNextAcceptedName(std::uint32_t containerID, CString baseName, int digits,
                                         std::uint32_t kind, bool confine, CString* pResult) {
  if (containerID == 0 || !pResult) return S_FALSE;
  pResult->clear();
  CString base = RemoveInvalidChars(std::move(baseName));
  if (base.empty()) return S_FALSE;
  const NumberFormat format = FormatForDigits(digits);

  int count = GetNextObjectCount(containerID, base, true);
  CString candidate;
  if (!MakeCandidate(base, count, format, candidate)) return S_FALSE;
  const CNameContainer* container = GetContainer(containerID);
  if (!container) return S_FALSE;
  // AddName refuses every name into a full container.
  if (container->GetNumNameIDs() >= kMaxEntriesPerTable) return E_FAIL;

  for (;;) {
    // A container whose own names its duplicate check does not cover would
    // still take a second ID under a text it holds; the proposal stays fresh.
    std::uint32_t id = 0;
    const bool heldHere = container->FindIDByName(candidate, &id) == S_OK;
    if (!heldHere) {
      if (kind != kAllowLeadingUnderscore && !IsValidNameText(candidate, kind)) return E_NAME_INVALID;
      if (!FindDuplicate(containerID, candidate, confine, nullptr)) {
        *pResult = std::move(candidate);
        return S_OK;
      }
    }
    count = GetNextObjectCount(containerID, base, false);
    if (count == 0) return S_FALSE;
    if (!MakeCandidate(base, count, format, candidate)) return S_FALSE;
  }
}

}  // namespace nametree
