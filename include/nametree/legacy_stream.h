// Documents of the earlier format, stated as records, and the one encoder of
// their stream (the element "NameService" of the child storage
// "QXTNameServer", which CNameServer::LoadOldVersion reads). Every field a
// reader passes over can be set, so that a writer can reproduce any document
// of that format, odd versions, skipped words and trailing bytes included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

struct LegacyNameObject {
  std::uint32_t version = 2;  // 1 or 2
  CString name{};
  std::uint32_t id = 0;
  std::uint32_t container = 0;
  // Version 1 only: the F word, the words that follow a non-zero F, and how
  // many bytes are skipped behind them.
  std::uint32_t f = 0;
  std::vector<std::uint32_t> fWords{};
  std::uint32_t skipBytes = 0;
  std::uint32_t unexamined = 0;  // the word behind the container, which no reader examines
};

struct LegacyBag {
  std::int32_t version = 2;
  CString name{};
  std::uint32_t id = 0;
  std::uint32_t parent = 0;
  std::vector<std::uint32_t> members{};
  std::uint32_t skipBytes = 0;
  std::uint8_t flag = 0;  // written for version 2 and later
};

struct LegacyBagContainer {
  std::int32_t version = 1;
  CString name{};
  std::uint32_t id = 0;
  std::uint32_t parent = 0;
  std::vector<std::uint32_t> subs{};
  std::uint32_t type = 0;
  std::uint32_t jWords = 0;  // version 2 and later
  std::uint32_t skipBytes = 0;
};

struct LegacyDocument {
  std::uint32_t formatWord = 0x00010005;  // given no meaning by the reader
  std::uint32_t lastIssuedID = 0;
  std::vector<LegacyNameObject> objects{};
  std::vector<LegacyBag> bags{};
  std::vector<LegacyBagContainer> containers{};
  std::uint32_t trailingBytes = 0;
};

// Where in the stream each record reaches the point after which a reader
// has acted on it: the places to cut a stream short.
struct LegacyLayout {
  std::size_t counterEnd = 0;                  // behind the last issued ID
  std::vector<std::size_t> objectEnds;         // behind each name-object record
  std::vector<std::size_t> bagParentEnds;      // behind each bag's parent ID
  std::vector<std::size_t> bagEnds;            // behind each bag record
  std::vector<std::size_t> containerTypeEnds;  // behind each bag container's type
};

// The stream of `doc`, little-endian. A counted string carries the text and
// a terminating zero unit; an empty text is written with length 0. Bytes and
// words a reader passes over get recognisable fillers (0xA0, 0xA1, ... for
// skipped bytes).
NAMETREE_API std::vector<std::uint8_t> EncodeLegacyStream(const LegacyDocument& doc, LegacyLayout* layout = nullptr);

}  // namespace nametree
