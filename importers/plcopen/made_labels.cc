// Labels for the containers an import made. Invariant: every named
// container gets at most one label, the first in the order made gets its
// own name, and a label is only ever given through Document::SetLabel,
// so the file's rule and its one-holder-per-label guarantee decide; the
// path form of a container is its named ancestors' names and its own,
// joined by '_', and costs one string per container.
#include <unordered_map>

#include "nametree/document.h"
#include "nametree/plcopen_import.h"

namespace nametree::plcopen {

std::size_t LabelMadeContainers(const ImportReport& report, Document& doc) {
  std::unordered_map<std::uint32_t, std::size_t> index;  // container ID -> its place in report.made
  std::vector<CString> paths(report.made.size());
  std::size_t unlabelled = 0;
  for (std::size_t i = 0; i < report.made.size(); ++i) {
    const MadeContainer& c = report.made[i];
    index.emplace(c.id, i);
    if (c.name.empty()) continue;
    const auto parent = index.find(c.parent);
    const CString* above = parent == index.end() ? nullptr : &paths[parent->second];
    paths[i] = above && !above->empty() ? *above + u"_" + c.name : c.name;
    if (doc.SetLabel(c.id, std::u16string_view(c.name))) continue;
    if (paths[i] != c.name && doc.SetLabel(c.id, std::u16string_view(paths[i]))) continue;
    ++unlabelled;
  }
  return unlabelled;
}

}  // namespace nametree::plcopen
