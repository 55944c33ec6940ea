// What a document can keep of a text. The stream stores a text up to its
// first U+0000, so a text holding one would come back shorter, and maybe as
// a duplicate of another; the settings streams count a text in 16 bits.
// Every face and the program refuse such texts before they reach the
// server, in any name kind. The classic API keeps its own results.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "nametree/export.h"

namespace nametree {

enum class KeptTextRefusal { kNone, kNul, kTooLong };

struct KeptTextVerdict {
  KeptTextRefusal refusal = KeptTextRefusal::kNone;
  std::size_t index = 0;  // kNul: the UTF-16 index of the first U+0000
  explicit operator bool() const { return refusal == KeptTextRefusal::kNone; }
};

// Whether the document keeps the text whole: no U+0000, and at most
// maxUnits UTF-16 code units.
NAMETREE_API KeptTextVerdict JudgeKeptText(std::u16string_view text, std::size_t maxUnits = std::u16string_view::npos);

// Why, as a clause: "it holds U+0000 at position 5, which a document cannot
// keep" or "it has 70000 UTF-16 code units, more than 32".
NAMETREE_API std::string DescribeKeptTextRefusal(std::u16string_view text, const KeptTextVerdict& verdict,
                                                 std::size_t maxUnits = std::u16string_view::npos);

}  // namespace nametree
