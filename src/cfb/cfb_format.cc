#include "cfb/cfb_format.h"

#include "platform/text.h"

namespace nametree::cfb {

int CompareEntryNames(const CString& a, const CString& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return ToUpper(a).compare(ToUpper(b));
}

bool IsValidEntryName(const CString& name) {
  if (name.size() > kMaxNameUnits) return false;
  for (char16_t c : name)
    if (c == 0 || c == u'/' || c == u'\\' || c == u':' || c == u'!') return false;
  return true;
}

}  // namespace nametree::cfb
