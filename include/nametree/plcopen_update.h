// Keeps the identity of imported names across imports of a project. A
// document made by ImportPlcopen keeps, per name and container, where it
// came from (Document::Origins); a newer export is applied to it so
// that:
//   - an element whose path is unchanged keeps its ID, and its container
//     its ID and label; a changed text is a rename;
//   - an element renamed under a globalId the previous import knew is the
//     same element (its key follows the globalId);
//   - an element met for the first time gets a fresh ID, never one this
//     update deleted; what the export no longer holds is deleted;
//   - names and containers the document holds from elsewhere (added by
//     hand) are left alone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "nametree/document.h"
#include "nametree/plcopen_import.h"

namespace nametree::plcopen {

// The origins of what an import put into the server whose IDs `report`
// carries, for Document::SetOrigins.
ImportOrigins OriginsOf(const ImportReport& report, const std::string& source);

struct UpdateSummary {
  std::size_t kept = 0;      // names that kept their ID and text
  std::size_t renamed = 0;   // names that kept their ID under a new text
  std::size_t added = 0;     // names new to the document
  std::size_t deleted = 0;   // imported names the export no longer holds
  std::size_t containersAdded = 0, containersDeleted = 0;
  // Whether the document differs from what it was: a save of an unchanged
  // one would only reorder its stream.
  bool changed = false;
};

// Imports the project at `path`, judged against `keywords` (which the
// document's server should reserve too), and applies it to `doc`, which an
// import made; `report` then carries the document's IDs, and what the
// document refused beyond the import's own refusals is among
// report->refused (kOther). The origins are set and new containers
// labelled (a kept container keeps its label); nothing is committed.
// kNotImported for a document that keeps no origins, kReadOnly for one
// opened read-only.
ImportFailure UpdatePlcopenFile(const std::string& path, Document& doc, const std::vector<CString>& keywords,
                                ImportReport* report, UpdateSummary* summary, const ImportOptions& options = {});

}  // namespace nametree::plcopen
