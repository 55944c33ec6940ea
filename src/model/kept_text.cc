#include "nametree/kept_text.h"

namespace nametree {

KeptTextVerdict JudgeKeptText(std::u16string_view text, std::size_t maxUnits) {
  // mutate: kept-text-lets-nul-pass
  if (const std::size_t nul = text.find(u'\0'); nul != std::u16string_view::npos)
    return {KeptTextRefusal::kNul, nul};
  // mutate: kept-text-no-length-limit
  if (text.size() > maxUnits) return {KeptTextRefusal::kTooLong, 0};
  return {};
}

std::string DescribeKeptTextRefusal(std::u16string_view text, const KeptTextVerdict& verdict, std::size_t maxUnits) {
  switch (verdict.refusal) {
    case KeptTextRefusal::kNone: return "a document keeps it whole";
    case KeptTextRefusal::kNul:
      return "it holds U+0000 at position " + std::to_string(verdict.index + 1) +
             ", where a document would cut it";
    case KeptTextRefusal::kTooLong:
      return "it has " + std::to_string(text.size()) + " UTF-16 code units, more than " + std::to_string(maxUnits);
  }
  return "a document cannot keep it";
}

}  // namespace nametree
