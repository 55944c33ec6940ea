#include "tree_view.h"

#include <algorithm>
#include <cstdio>

namespace nametree::cli {

namespace {

std::vector<NameEntry> SortedNames(const ContainerEntry& c) {
  std::vector<NameEntry> names = c.names;
  std::sort(names.begin(), names.end(), [](const NameEntry& a, const NameEntry& b) { return a.id < b.id; });
  return names;
}

std::vector<int> SortedChildren(const Snapshot& s, const ContainerEntry& c) {
  std::vector<int> children = c.children;
  std::sort(children.begin(), children.end(), [&](int a, int b) {
    return s.containers[static_cast<std::size_t>(a)].id < s.containers[static_cast<std::size_t>(b)].id;
  });
  return children;
}

void PrintContainer(const Snapshot& s, int index, int depth, const TreeOptions& options) {
  const ContainerEntry& c = s.containers[static_cast<std::size_t>(index)];
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  const std::string caption = options.caption ? options.caption(c.id) : std::string();
  std::printf("%scontainer %u (%s)%s%s\n", indent.c_str(), c.id, TypeLabel(c.type).c_str(),
              caption.empty() ? "" : "  ", caption.c_str());
  const std::vector<NameEntry> names = SortedNames(c);
  const int width = names.empty() ? 0 : static_cast<int>(std::to_string(names.back().id).size());
  std::size_t shown = names.size();
  if (options.maxNamesShown >= 0) shown = std::min(shown, static_cast<std::size_t>(options.maxNamesShown));
  for (std::size_t i = 0; i < shown; ++i)
    std::printf("%s  %*u  %s\n", indent.c_str(), width, names[i].id, Display(names[i].text).c_str());
  if (shown < names.size()) std::printf("%s  ... %zu more names\n", indent.c_str(), names.size() - shown);
  for (int child : SortedChildren(s, c)) PrintContainer(s, child, depth + 1, options);
}

Json ContainerJson(const Snapshot& s, int index) {
  const ContainerEntry& c = s.containers[static_cast<std::size_t>(index)];
  Json json;
  json["id"] = c.id;
  json["type"] = c.type;
  json["typeName"] = TypeLabel(c.type);
  Json names = Json::array();
  for (const NameEntry& n : SortedNames(c)) names.push_back({{"id", n.id}, {"name", JsonText(n.text)}});
  json["names"] = std::move(names);
  Json subs = Json::array();
  for (int child : SortedChildren(s, c)) subs.push_back(ContainerJson(s, child));
  json["containers"] = std::move(subs);
  return json;
}

}  // namespace

void PrintTree(const CNameServer& server, const TreeOptions& options) {
  const Snapshot s = TakeSnapshot(server);
  if (s.tops.empty()) std::printf("(no containers)\n");
  for (int top : s.tops) PrintContainer(s, top, 0, options);
}

Json TreeJson(const CNameServer& server) {
  const Snapshot s = TakeSnapshot(server);
  Json json = Json::array();
  for (int top : s.tops) json.push_back(ContainerJson(s, top));
  return json;
}

TreeCounts CountTree(const CNameServer& server) {
  const Snapshot s = TakeSnapshot(server);
  return {static_cast<int>(s.containers.size()), static_cast<int>(s.NameCount())};
}

}  // namespace nametree::cli
