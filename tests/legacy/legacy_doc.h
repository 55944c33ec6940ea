// Documents of the earlier format, stated as records rather than bytes:
// every field a reader passes over can still be set, so that tests can
// place odd versions, skipped words and trailing bytes where they want.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/types.h"

namespace nametree::test {

struct NameObjectRecord {
  std::uint32_t version = 2;
  CString name{};
  std::uint32_t id = 0;
  std::uint32_t container = 0;
  // Version 1 only: the F word, the words that follow a non-zero F, and B.
  std::uint32_t f = 0;
  std::vector<std::uint32_t> fWords{};
  std::uint32_t skipBytes = 0;
};

struct BagRecord {
  std::int32_t version = 2;
  CString name{};
  std::uint32_t id = 0;
  std::uint32_t parent = 0;
  std::vector<std::uint32_t> members{};
  std::uint32_t skipBytes = 0;
  std::uint8_t flag = 0;  // written for version 2 and later
};

struct BagContainerRecord {
  std::int32_t version = 1;
  CString name{};
  std::uint32_t id = 0;
  std::uint32_t parent = 0;
  std::vector<std::uint32_t> subs{};
  std::uint32_t type = 0;
  std::uint32_t jWords = 0;  // version 2 and later
  std::uint32_t skipBytes = 0;
};

// Shorthands for records that set no more than these fields.
inline NameObjectRecord Name(std::uint32_t id, CString text, std::uint32_t container) {
  return {.name = std::move(text), .id = id, .container = container};
}
inline BagRecord Bag(std::uint32_t id, CString name, std::uint32_t parent, std::vector<std::uint32_t> members = {}) {
  return {.name = std::move(name), .id = id, .parent = parent, .members = std::move(members)};
}
inline BagContainerRecord Box(std::uint32_t id, std::uint32_t type, std::uint32_t parent = 0) {
  return {.id = id, .parent = parent, .type = type};
}

struct LegacyDocument {
  std::uint32_t formatWord = 0x00010005;
  std::uint32_t lastIssuedID = 0;
  std::vector<NameObjectRecord> objects{};
  std::vector<BagRecord> bags{};
  std::vector<BagContainerRecord> containers{};
  std::uint32_t trailingBytes = 0;
};

// Where in the stream each record reaches the point after which a reader
// has acted on it, for tests that cut the stream short.
struct LegacyLayout {
  std::size_t counterEnd = 0;                  // behind the last issued ID
  std::vector<std::size_t> objectEnds;         // behind each name-object record
  std::vector<std::size_t> bagParentEnds;      // behind each bag's parent ID
  std::vector<std::size_t> bagEnds;            // behind each bag record
  std::vector<std::size_t> containerTypeEnds;  // behind each bag container's type
};

// The legacy stream of a document. A counted string carries the text and a
// terminating zero unit; an empty text is written with length 0.
std::vector<std::uint8_t> Encode(const LegacyDocument& doc, LegacyLayout* layout = nullptr);

// Makes the child storage `child` of `root` holding `stream` as its element
// "NameService"; no element at all when `stream` is empty optional.
bool PutLegacyStream(IStorage* root, const std::optional<std::vector<std::uint8_t>>& stream,
                     const CString& child = u"QXTNameServer");
// A memory storage with PutLegacyStream done.
ComPtr<IStorage> LegacyStorage(const std::optional<std::vector<std::uint8_t>>& stream,
                               const CString& child = u"QXTNameServer");

}  // namespace nametree::test
