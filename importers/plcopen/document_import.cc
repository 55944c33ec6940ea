// The PLCopen import for a host of nametree::Document: the classic entry's
// walk, into the document's names. A document opened read-only is refused
// before anything is read: its names could never be saved, and a host
// holding one must not see them change.
#include "document_guard.h"
#include "nametree/document.h"
#include "nametree/plcopen_import.h"

namespace nametree::plcopen {

ImportFailure ImportPlcopenFile(const std::string& path, Document& doc, const std::vector<CString>& keywords,
                                ImportReport* report, const ImportOptions& options) {
  // mutate: plcopen-import-read-only-taken
  if (std::optional<ImportFailure> refused = RefuseReadOnly(doc)) return *refused;
  CNameServer& server = doc.Server();
  for (const CString& word : keywords) server.AddKeyword(word);
  return ImportPlcopenFile(path, server, report, options);
}

}  // namespace nametree::plcopen
