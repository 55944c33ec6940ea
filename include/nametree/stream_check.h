// Whether a "NameServer" stream read back whole. The classic Load reads
// what the format defines and ignores the rest: a negative count reads as
// none, a count too small leaves records unread, a second name or
// sub-container under one ID replaces the first, a text stops at its first
// zero unit. Each of these loads cleanly and the next save writes the loss.
// This check reads the same bytes again, on its own, and compares:
//   - bytes-consumed: the stream ends exactly behind the last issued ID;
//   - version: every version word is 1;
//   - counts: no count is negative, and the loaded server holds as many
//     containers and names as the records do;
//   - unique-ids: no table holds two entries under one ID, and no ID is 0;
//   - lengths: every text fills its counted length up to one zero unit.
// A document with a finding is damaged: the program's edits refuse it
// unless forced, and lint reports the check by name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "nametree/export.h"
#include "nametree/name_server.h"

namespace nametree {

enum class StreamCheck { kBytesConsumed, kVersion, kCounts, kUniqueIds, kLengths };

// "bytes-consumed", "version", "counts", "unique-ids", "lengths".
NAMETREE_API std::string_view StreamCheckName(StreamCheck check);

struct StreamDamage {
  StreamCheck check = StreamCheck::kBytesConsumed;
  std::uint64_t offset = 0;  // where in the stream the difference shows
  std::string message;       // a sentence, without the stream's name
};

// The first difference between the stream's bytes and what `loaded` (a
// server that Load filled from exactly these bytes, and nothing else)
// holds; none when the stream read back whole. Linear in the stream's size,
// without recursion.
NAMETREE_API std::optional<StreamDamage> CheckServerStream(std::span<const std::uint8_t> bytes,
                                                           const CNameServer& loaded);

}  // namespace nametree
