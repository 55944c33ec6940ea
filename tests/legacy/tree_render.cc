#include <algorithm>

#include "legacy_fixture.h"
#include "nametree/utf8.h"

namespace nametree::test {

std::string TreeOf(const CNameServer& server) {
  // Each line is keyed by its path: a container's key, then 0 and the ID for
  // a name or 1 and the ID for a sub-container (a running number at the top
  // level), so that sorting orders the walk without losing the list order.
  std::vector<std::pair<std::vector<std::uint32_t>, std::string>> lines;
  std::vector<std::uint32_t> path;
  std::uint32_t top = 0, holder = 0;
  server.TraceDumpNameServer([&](const CString& indent, bool isContainer, std::uint32_t id, std::int16_t type,
                                 const CString& name) {
    const std::size_t depth = indent.size() / 2 - 1;
    const std::string pad(2 * depth, ' ');
    if (isContainer) {
      path.resize(2 * depth);
      path.insert(path.end(), {1, depth == 0 ? top++ : id});
      holder = id;
      lines.emplace_back(path, pad + "#" + std::to_string(id) + " t" + std::to_string(type) + "\n");
      return;
    }
    std::vector<std::uint32_t> key = path;
    key.insert(key.end(), {0, id});
    std::string line = pad + "  " + std::to_string(id) + " " + ToUtf8(name);
    // Where the server's lookups by ID and by text disagree with the walk, they say so.
    const CNameContainer* found = server.FindContainerOfName(id);
    if (!found || found->GetID() != holder) line += " (in #" + std::to_string(found ? found->GetID() : 0) + ")";
    if (auto byText = server.GetID(holder, name); byText != id) line += " (text names " + std::to_string(byText) + ")";
    lines.emplace_back(std::move(key), line + "\n");
  });
  std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out;
  for (const auto& line : lines) out += line.second;
  return out;
}

}  // namespace nametree::test
