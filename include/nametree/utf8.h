// Conversions between the library's UTF-16 strings and UTF-8, for hosts and
// tools that speak UTF-8. Ill-formed input becomes U+FFFD.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

NAMETREE_API std::string ToUtf8(std::u16string_view text);
// Appends one code point (at most U+10FFFF, no surrogate) in UTF-8.
NAMETREE_API void AppendUtf8(std::string& out, char32_t codePoint);
NAMETREE_API CString FromUtf8(std::string_view text);
// The text, or nothing when it is not well-formed UTF-8 (a stray or
// truncated sequence, an overlong form, a surrogate or a code point past
// U+10FFFF): nothing is replaced.
NAMETREE_API std::optional<CString> FromUtf8Strict(std::string_view text);

}  // namespace nametree
