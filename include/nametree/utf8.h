// Conversions between the library's UTF-16 strings and UTF-8, for hosts and
// tools that speak UTF-8. Ill-formed input becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

NAMETREE_API std::string ToUtf8(std::u16string_view text);
NAMETREE_API CString FromUtf8(std::string_view text);

}  // namespace nametree
