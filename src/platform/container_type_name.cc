#include <charconv>

#include "nametree/types.h"

namespace nametree {

std::string ContainerTypeName(ContainerType type) {
  switch (type) {
    case ContainerType::kPlain: return "plain";
    case ContainerType::kGlobal: return "global";
    case ContainerType::kTarget: return "target";
    // mutate: own-type-word
    case ContainerType::kOwn: return "own";
    default: return "type " + std::to_string(ContainerTypeNumber(type));
  }
}

std::optional<ContainerType> ContainerTypeByName(std::string_view word) {
  for (ContainerType type : kNamedContainerTypes)
    if (word == ContainerTypeName(type)) return type;
  return std::nullopt;
}

std::optional<ContainerType> ParseContainerType(std::string_view text) {
  // mutate: type-word-not-parsed
  if (std::optional<ContainerType> named = ContainerTypeByName(text)) return named;
  std::int16_t number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return ContainerTypeOfNumber(number);
}

}  // namespace nametree
