#include "snapshot.h"

#include <algorithm>

namespace nametree::cli {

Snapshot TakeSnapshot(const CNameServer& server) {
  Snapshot s;
  std::vector<int> stack;  // the open containers by depth
  server.TraceDumpNameServer([&](const CString& indent, bool isContainer, std::uint32_t id,
                                 std::int16_t type, const CString& text) {
    if (!isContainer) {
      s.containers[static_cast<std::size_t>(stack.back())].names.push_back({id, text});
      return;
    }
    const std::size_t depth = indent.size() / 2 - 1;  // top level is indented one step
    stack.resize(std::min(stack.size(), depth));
    ContainerEntry c;
    c.id = id;
    c.type = type;
    const int index = static_cast<int>(s.containers.size());
    if (stack.empty()) {
      c.top = index;
      c.searched = true;
      s.tops.push_back(index);
    } else {
      const ContainerEntry& parent = s.containers[static_cast<std::size_t>(stack.back())];
      c.parent = stack.back();
      c.top = parent.top;
      c.searched = parent.searched && (type == kGlobalContainer || type == kTargetContainer ||
                                       type == kLocalCheckContainer);
    }
    s.containers.push_back(std::move(c));
    if (!stack.empty()) s.containers[static_cast<std::size_t>(stack.back())].children.push_back(index);
    stack.push_back(index);
  });
  return s;
}

std::string Snapshot::Path(int index) const {
  std::vector<std::uint32_t> ids;
  for (int i = index; i >= 0; i = containers[static_cast<std::size_t>(i)].parent)
    ids.push_back(containers[static_cast<std::size_t>(i)].id);
  std::string path;
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) path += (path.empty() ? "" : "/") + std::to_string(*it);
  return path;
}

std::size_t Snapshot::NameCount() const {
  std::size_t n = 0;
  for (const ContainerEntry& c : containers) n += c.names.size();
  return n;
}

}  // namespace nametree::cli
