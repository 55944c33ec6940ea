// What a document file holds beside its names, and what of it may fail to
// read back whole: the terms a host meets in Document::Damage() and in help
// texts, kept apart from the file layer that decides them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "nametree/export.h"
#include "nametree/stream_check.h"

namespace nametree {

// What of a document did not read back whole, for lint to report and for
// Commit to guard.
enum class DamageKind {
  kUnreadable,     // an entry the file layer could not read
  kStream,         // "NameServer" loaded, but not all of it: see StreamCheck
  kMalformed,      // a settings stream (keywords, labels) that does not decode
  kLabelTwice,     // two containers share a label, letter case ignored
  kLabelInvalid,   // a label that breaks the name rule
  kLabelMissing,   // a label of a container the document does not hold
};

struct DocumentDamage {
  DamageKind kind = DamageKind::kUnreadable;
  StreamCheck check = StreamCheck::kBytesConsumed;  // kStream only
  std::uint32_t container = 0;                      // the label kinds
  std::string message;                              // a sentence
};

// "unreadable", the StreamCheckName of a kStream damage, "malformed",
// "label-twice", "label-invalid", "label-missing".
NAMETREE_API std::string_view DocumentDamageName(const DocumentDamage& damage);

// What a document file holds and what a commit leaves beside it, as help
// texts name them.
struct DocumentFileLayout {
  std::u16string_view nameServerEntry;  // the names
  std::u16string_view keywordEntry;     // the stored reserved words
  std::u16string_view labelEntry;       // the container labels
  // The new file while a commit writes it, where the system cannot leave
  // it unnamed; "PID" and "XXXXXX" stand for the process ID and the
  // random tail.
  std::string tempName;
};
// The layout of the document at `path`.
NAMETREE_API DocumentFileLayout DescribeDocumentFile(const std::string& path);

}  // namespace nametree
