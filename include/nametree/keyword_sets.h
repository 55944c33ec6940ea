// Built-in sets of reserved words that a host can hand to AddKeyword, so that
// documents of one language refuse the same words wherever they are edited.
#pragma once

#include <span>
#include <string_view>

#include "nametree/export.h"

namespace nametree {

// The words of the named set, upper case, in a fixed order; empty for a name
// that is no built-in set. The storage lives as long as the program.
//   "iec61131-3-ed3" (also "iec61131-3"): the keywords of IEC 61131-3, third
//   edition, and its elementary data type names. Names of standard
//   functions and function blocks (TON, ADD) and their parameters (IN, PT,
//   Q) are not in it: they are ordinary identifiers that a project may
//   repeat in its own scopes.
//   "iec61131-3-ed2": the same for the second edition, without the words
//   the third added (LTIME, LDT, CLASS, METHOD, REF_TO, ...).
NAMETREE_API std::span<const std::u16string_view> KeywordSet(std::string_view name);

// True for a word (upper case) that is a keyword of the third edition but
// not of the second, so that a refusal can say which edition forbids it.
NAMETREE_API bool IsThirdEditionOnlyKeyword(std::u16string_view upperCaseWord);

// The names of the built-in sets, in the order a help text lists them.
NAMETREE_API std::span<const std::string_view> KeywordSetNames();

}  // namespace nametree
