// Shorthands for documents of the earlier format, and where tests put
// their streams.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "nametree/legacy_stream.h"
#include "nametree/memory_storage.h"
#include "nametree/types.h"

namespace nametree::test {

// Shorthands for records that set no more than these fields.
inline LegacyNameObject Name(std::uint32_t id, CString text, std::uint32_t container) {
  return {.name = std::move(text), .id = id, .container = container, .unexamined = 0xDEADBEEF};
}
inline LegacyBag Bag(std::uint32_t id, CString name, std::uint32_t parent, std::vector<std::uint32_t> members = {}) {
  return {.name = std::move(name), .id = id, .parent = parent, .members = std::move(members)};
}
inline LegacyBagContainer Box(std::uint32_t id, std::uint32_t type, std::uint32_t parent = 0) {
  return {.id = id, .parent = parent, .type = type};
}

// Makes the child storage `child` of `root` holding `stream` as its element
// "NameService"; no element at all when `stream` is empty optional.
bool PutLegacyStream(IStorage* root, const std::optional<std::vector<std::uint8_t>>& stream,
                     const CString& child = u"QXTNameServer");
// A memory storage with PutLegacyStream done.
ComPtr<IStorage> LegacyStorage(const std::optional<std::vector<std::uint8_t>>& stream,
                               const CString& child = u"QXTNameServer");

}  // namespace nametree::test
