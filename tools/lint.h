// The whole-document check behind 'nametree lint' and 'nametree repair':
// what the library would refuse at entry (judged as add judges by default:
// kind 0, duplicate check on, not confined) but the document holds anyway,
// and, as warnings, names that look alike in namespaces that must stay
// apart. Each namespace is one hash map from key to its first two entries,
// so the check is linear in the number of names, never pairwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nametree/name_server.h"
#include "output.h"
#include "snapshot.h"

namespace nametree::cli {

struct Finding {
  bool warning = false;
  std::string check;  // counter, repeated-id, limit, invalid, twice, keyword, collision, look-alike
  std::string message;
  Json json;          // the finding's particulars
};

// `stored` is the document's last issued ID as loaded.
std::vector<Finding> LintDocument(const CNameServer& server, const Snapshot& snapshot, std::uint32_t stored);

}  // namespace nametree::cli
