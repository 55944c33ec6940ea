// What the PLCopen entries that write into a Document refuse before they
// read anything, said once for all of them.
#pragma once

#include <optional>

#include "nametree/document.h"
#include "nametree/plcopen_import.h"

namespace nametree::plcopen {

// kReadOnly for a document opened read-only.
inline std::optional<ImportFailure> RefuseReadOnly(const Document& doc) {
  if (!doc.IsReadOnly()) return std::nullopt;
  // mutate: plcopen-update-read-only-unsaid
  return ImportFailure{ImportStatus::kReadOnly, 0, "the document is open read-only"};
}

}  // namespace nametree::plcopen
