// The findings of the library's document check in the words and JSON that
// 'nametree lint', 'nametree repair' and the edits' checks print.
#pragma once

#include <string>
#include <vector>

#include "nametree/document.h"
#include "nametree/document_check.h"
#include "output.h"

namespace nametree::cli {

// A finding as lint's JSON lists it: severity, check, message and its
// particulars; containers show the labels `label` gives.
Json FindingJson(const DocumentFinding& f, const ContainerLabelLookup& label = {});
// Only its particulars: what it concerns, without severity, check or message.
Json FindingParticulars(const DocumentFinding& f, const ContainerLabelLookup& label = {});

// "1/5/9": the IDs from the top down.
inline std::string PathText(const std::vector<std::uint32_t>& path) { return ContainerPathText(path); }

// Prints the findings of the file at `path` as lint does (text, or `json`
// completed with them under --json); returns 1 when they count (errors, or
// warnings under --strict), else 0.
int ReportFindings(bool asJson, bool strict, const std::string& path, const std::vector<DocumentFinding>& findings,
                   Json json, const ContainerLabelLookup& label = {});

}  // namespace nametree::cli
