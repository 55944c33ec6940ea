#include "tree_view.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "nametree/tree_walk.h"

namespace nametree::cli {

namespace {

struct ShownName {
  std::uint32_t id;
  const CString* text;
};

std::vector<ShownName> SortedNames(const ContainerRef& c) {
  std::vector<ShownName> names;
  names.reserve(c.NameCount());
  for (NameRef n : c.Names()) names.push_back({n.Id(), &n.Text()});
  std::sort(names.begin(), names.end(), [](const ShownName& a, const ShownName& b) { return a.id < b.id; });
  return names;
}

std::vector<ContainerRef> SortedChildren(const ContainerRef& c) {
  std::vector<ContainerRef> children(c.Children().begin(), c.Children().end());
  std::sort(children.begin(), children.end(),
            [](const ContainerRef& a, const ContainerRef& b) { return a.Id() < b.Id(); });
  return children;
}

// Visits the tree by ID order of the sub-containers, each container before
// those below it; the pending containers are kept by hand, not on the call stack.
template <class F>
void VisitByID(const CNameServer& server, F&& visit) {
  std::vector<ContainerRef> pending;
  for (ContainerRef top : TreeWalk::Levels(server, 0)) pending.push_back(top);
  std::reverse(pending.begin(), pending.end());
  while (!pending.empty()) {
    const ContainerRef c = pending.back();
    pending.pop_back();
    visit(c);
    std::vector<ContainerRef> children = SortedChildren(c);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

}  // namespace

void PrintTree(const CNameServer& server, const TreeOptions& options) {
  bool any = false;
  VisitByID(server, [&](const ContainerRef& c) {
    any = true;
    const std::string indent(static_cast<std::size_t>(c.Depth()) * 2, ' ');
    const std::string caption = options.caption ? options.caption(c.Id()) : std::string();
    std::printf("%scontainer %u (%s)%s%s\n", indent.c_str(), c.Id(), TypeLabel(c.Type()).c_str(),
                caption.empty() ? "" : "  ", caption.c_str());
    const std::vector<ShownName> names = SortedNames(c);
    const int width = names.empty() ? 0 : static_cast<int>(std::to_string(names.back().id).size());
    std::size_t shown = names.size();
    if (options.maxNamesShown >= 0) shown = std::min(shown, static_cast<std::size_t>(options.maxNamesShown));
    for (std::size_t i = 0; i < shown; ++i)
      std::printf("%s  %*u  %s\n", indent.c_str(), width, names[i].id, Display(*names[i].text).c_str());
    if (shown < names.size()) std::printf("%s  ... %zu more names\n", indent.c_str(), names.size() - shown);
  });
  if (!any) std::printf("(no containers)\n");
}

Json TreeJson(const CNameServer& server) {
  Json json = Json::array();
  // Where each container's object goes: the array of its parent (or the
  // top), which takes no other entry until the container's sub-tree is done.
  std::vector<Json*> into;
  VisitByID(server, [&](const ContainerRef& c) {
    into.resize(static_cast<std::size_t>(c.Depth()));
    Json& list = into.empty() ? json : *into.back();
    Json item;
    item["id"] = c.Id();
    item["type"] = c.Type();
    item["typeName"] = TypeLabel(c.Type());
    Json names = Json::array();
    for (const ShownName& n : SortedNames(c)) names.push_back({{"id", n.id}, {"name", JsonText(*n.text)}});
    item["names"] = std::move(names);
    item["containers"] = Json::array();
    list.push_back(std::move(item));
    into.push_back(&list.back()["containers"]);
  });
  return json;
}

TreeCounts CountTree(const CNameServer& server) {
  TreeCounts counts;
  for (ContainerRef c : TreeWalk(server)) {
    ++counts.containers;
    counts.names += static_cast<int>(c.NameCount());
  }
  return counts;
}

}  // namespace nametree::cli
