#include <charconv>

#include "nametree/types.h"

namespace nametree {

std::string ContainerTypeName(std::int16_t type) {
  switch (type) {
    case kOrdinaryContainer: return "plain";
    case kGlobalContainer: return "global";
    case kTargetContainer: return "target";
    // mutate: own-type-word
    case kLocalCheckContainer: return "own";
    default: return "type " + std::to_string(type);
  }
}

std::optional<std::int16_t> ContainerTypeByName(std::string_view word) {
  for (std::int16_t type : kNamedContainerTypes)
    if (word == ContainerTypeName(type)) return type;
  return std::nullopt;
}

std::optional<std::int16_t> ParseContainerType(std::string_view text) {
  // mutate: type-word-not-parsed
  if (std::optional<std::int16_t> named = ContainerTypeByName(text)) return named;
  std::int16_t type = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), type);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return type;
}

}  // namespace nametree
