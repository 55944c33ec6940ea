// The findings of the library's document check, in the words and JSON that
// 'nametree lint' and 'nametree repair' print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/document.h"
#include "nametree/document_check.h"
#include "nametree/name_server.h"
#include "output.h"

namespace nametree::cli {

class Args;

struct Finding {
  bool warning = false;
  std::string check;  // DocumentFindingKindName
  std::string message;
  Json json;          // the finding's particulars
  // What it concerns, for locating it: 0 for none.
  std::uint32_t nameID = 0, otherNameID = 0, container = 0;
};

// A finding in the words and JSON of lint.
Finding ShownFinding(const DocumentFinding& f);

// "1/5/9": the IDs from the top down.
inline std::string PathText(const std::vector<std::uint32_t>& path) { return ContainerPathText(path); }

// `stored` is the document's last issued ID as loaded.
// With a document, what of it did not read back whole comes first, as errors,
// and containers show their labels. Names are judged by `profile`'s rule.
std::vector<Finding> LintDocument(const CNameServer& server, std::uint32_t stored, const Document* doc = nullptr,
                                  NameProfile profile = NameProfile::kClassic);

// Prints the findings of the file at `path` as lint does (text, or `json`
// completed with them under --json); returns 1 when they count (errors, or
// warnings under --strict), else 0.
int ReportFindings(const Args& args, const std::string& path, const std::vector<Finding>& findings, Json json);
int ReportFindings(bool asJson, bool strict, const std::string& path, const std::vector<Finding>& findings, Json json);

// The findings of a document an import made, each located in its project
// through the document's origins, printed as lint PROJECT.xml prints them.
int ReportLocatedFindings(const Args& args, const std::string& path, const ImportOrigins& origins,
                          const std::vector<Finding>& findings);

}  // namespace nametree::cli
