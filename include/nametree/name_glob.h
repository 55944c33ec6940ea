// A glob over whole names. '*' takes any run of UTF-16 units, '?' exactly
// one; with Sets::kBracketed, "[...]" takes one unit of a set of units and
// ranges ("[A-Z_]"; a ']' right after '[' is a member). Everything else is
// a unit of its own. Letter case is either ignored as the library ignores it
// when it compares two names (NameCompareKey), or kept.
//
// Matching costs at most the product of the pattern's and the name's
// lengths: only the last '*' is ever retried.
#pragma once

#include <optional>
#include <string_view>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

class NAMETREE_API NameGlob {
 public:
  enum class Case { kAsNamesCompare, kKept };
  enum class Sets { kLiteral, kBracketed };

  // Nullopt when a bracketed set is not closed.
  static std::optional<NameGlob> Make(std::u16string_view pattern, Case letterCase, Sets sets);

  bool Matches(std::u16string_view name) const;

 private:
  NameGlob(CString pattern, Case letterCase, Sets sets) : pattern_(std::move(pattern)), case_(letterCase), sets_(sets) {}
  bool MatchesKey(std::u16string_view name) const;
  // Whether unit `c` is taken by the pattern's single unit or set at `at`;
  // *next is where the pattern goes on.
  bool MatchesOne(char16_t c, std::size_t at, std::size_t* next) const;

  CString pattern_;  // as compared: a compare key unless the case is kept
  Case case_;
  Sets sets_;
};

}  // namespace nametree
