// Proposals for fresh names: a cleaned base name followed by the next value
// of the container's counter for it, advanced until the proposal is not a
// name of that container. Nothing is entered; the host does that.
#include <algorithm>

#include "server/name_candidate.h"
#include <new>

namespace nametree {

namespace candidate {

namespace {

constexpr std::size_t kMaxLength = static_cast<std::size_t>(kMaxNameLength);

// A field wider than a name is refused by the length rule whatever its exact
// width, so clamping it changes no proposal and bounds the text made for any
// digit count, INT_MIN included.
constexpr std::size_t kWidestField = kMaxLength + 1;

}  // namespace

NumberFormat FormatForDigits(int digits) {
  if (digits == 0) return {};
  const std::int64_t magnitude = digits < 0 ? -static_cast<std::int64_t>(digits) : digits;
  const auto width = static_cast<std::size_t>(std::min<std::int64_t>(magnitude, kWidestField));
  return {digits < 0 ? Fill::kSpacesAfter : Fill::kZeros, width};
}

namespace {

CString FormatNumber(int value, NumberFormat format) {
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char16_t digits[10];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  const std::size_t length = n + (value < 0 ? 1 : 0);
  const std::size_t pad = format.width > length ? format.width - length : 0;
  CString out;
  if (value < 0) out.push_back(u'-');
  // mutate: zero-padding-short
  if (format.fill == Fill::kZeros) out.append(pad, u'0');
  while (n > 0) out.push_back(digits[--n]);
  if (format.fill == Fill::kSpacesAfter) out.append(pad, u' ');
  return out;
}

}  // namespace

bool MakeCandidate(CString& base, int count, NumberFormat format, CString& candidate) {
  const CString number = FormatNumber(count, format);
  if (format.fill == Fill::kNone || base.size() + number.size() <= kMaxLength) {
    candidate = base + number;
    return true;
  }
  const CString plain = FormatNumber(count, NumberFormat{});
  if (base.size() + plain.size() <= kMaxLength) {
    candidate = base + plain;
    return true;
  }
  // Dropping one unit at a time stops at the first length that fits; that
  // length is known at once.
  if (number.size() > kMaxLength) {
    base.clear();
    return false;
  }
  base.resize(kMaxLength - number.size());
  candidate = base + number;
  return true;
}

}  // namespace candidate

using namespace candidate;

int CNameServer::GetNextObjectCount(std::uint32_t containerID, CString baseName, bool reset) {
  if (containerID == 0 || baseName.empty()) return 0;
  CNameContainer* container = GetContainer(containerID);
  if (!container) return 0;
  if (reset) container->ResetObjectIndex();
  return container->GetNextObjectCount(baseName);
}

HRESULT CNameServer::ProposeName(std::uint32_t containerID, CString baseName, int digits,
                                 const std::function<HRESULT(const CNameContainer&, const CString&)>& judge,
                                 CString* pResult) {
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

  for (;;) {
    const HRESULT verdict = judge(*container, candidate);
    if (verdict == S_OK) {
      *pResult = std::move(candidate);
      return S_OK;
    }
    if (verdict != S_FALSE) return verdict;
    // The counter selected above keeps advancing, whatever the base became.
    count = GetNextObjectCount(containerID, base, false);
    // A base cut to nothing has no counter: the same bare number would come
    // back every time.
    if (count == 0) return S_FALSE;
    if (!MakeCandidate(base, count, format, candidate)) return S_FALSE;
  }
}

HRESULT CNameServer::GetNextName(std::uint32_t containerID, CString baseName, int digits, CString* pResult) {
  try {
    return ProposeName(containerID, std::move(baseName), digits,
                       [](const CNameContainer& container, const CString& candidate) {
                         std::uint32_t id = 0;
                         // mutate: proposal-not-advanced
                         return container.FindIDByName(candidate, &id) == S_OK ? S_FALSE : S_OK;
                       },
                       pResult);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace nametree
