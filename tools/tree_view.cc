#include "tree_view.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>
#include <vector>

#include "nametree/tree_walk.h"

namespace nametree::cli {

namespace {

struct ShownName {
  std::uint32_t id;
  std::u16string_view text;
};

std::vector<ShownName> SortedNames(const ContainerRef& c) {
  std::vector<ShownName> names;
  names.reserve(c.NameCount());
  for (NameRef n : c.Names()) names.push_back({n.Id(), n.Text()});
  std::sort(names.begin(), names.end(), [](const ShownName& a, const ShownName& b) { return a.id < b.id; });
  return names;
}

std::vector<ContainerRef> SortedChildren(const ContainerRef& c) {
  std::vector<ContainerRef> children(c.Children().begin(), c.Children().end());
  std::sort(children.begin(), children.end(),
            [](const ContainerRef& a, const ContainerRef& b) { return a.Id() < b.Id(); });
  return children;
}

// Visits the tree (or the options' sub-tree) by ID order of the
// sub-containers, each container before those below it, with its depth
// below the first level shown; the pending containers are kept by hand, not
// on the call stack.
template <class F>
void VisitByID(const Document& doc, const TreeOptions& options, F&& visit) {
  std::vector<ContainerRef> pending;
  if (options.root == 0)
    for (ContainerRef top : doc.Levels(0)) pending.push_back(top);
  else
    for (ContainerRef root : doc.Walk(options.root, 0)) pending.push_back(root);
  if (pending.empty()) return;
  const int rootDepth = pending.front().Depth();
  std::reverse(pending.begin(), pending.end());
  while (!pending.empty()) {
    const ContainerRef c = pending.back();
    pending.pop_back();
    const int depth = c.Depth() - rootDepth;
    // mutate: tree-depth-one-more
    const bool deeper = options.maxDepth < 0 || depth < options.maxDepth;
    visit(c, depth, deeper);
    if (!deeper) continue;
    std::vector<ContainerRef> children = SortedChildren(c);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

// JSON trees nest at most this deep: a deeper container is listed, with its
// "depth" and "parent", in the array of its ancestor at that depth, so that
// no reader (or writer) of the JSON recurses without end.
constexpr std::size_t kJsonNestingLevels = 64;

std::string LabelText(const TreeOptions& options, std::uint32_t id) {
  const CString label = options.label ? options.label(id) : CString();
  return label.empty() ? std::string() : " @" + Display(label);
}

}  // namespace

void VisitTreeByID(const Document& doc, const TreeOptions& options,
                   const std::function<void(const ContainerRef&, int, bool)>& visit) {
  VisitByID(doc, options, visit);
}

std::vector<std::pair<std::uint32_t, std::u16string_view>> NamesByID(const ContainerRef& c) {
  std::vector<std::pair<std::uint32_t, std::u16string_view>> out;
  for (const ShownName& n : SortedNames(c)) out.emplace_back(n.id, n.text);
  return out;
}

void PrintTree(const Document& doc, const TreeOptions& options) {
  bool any = false;
  std::string lines;
  VisitByID(doc, options, [&](const ContainerRef& c, int depth, bool deeper) {
    any = true;
    const std::string indent = Indent(static_cast<std::size_t>(depth));
    const std::string caption = options.caption ? options.caption(c.Id()) : std::string();
    std::printf("%s%scontainer %u (%s)%s%s%s\n", indent.c_str(), LevelMark(static_cast<std::size_t>(depth)).c_str(), c.Id(), ContainerTypeName(c.Type()).c_str(),
                LabelText(options, c.Id()).c_str(), caption.empty() ? "" : "  ", caption.c_str());
    const std::vector<ShownName> names = SortedNames(c);
    const int width = names.empty() ? 0 : static_cast<int>(std::to_string(names.back().id).size());
    std::size_t shown = names.size();
    if (options.maxNamesShown >= 0) shown = std::min(shown, static_cast<std::size_t>(options.maxNamesShown));
    // A container's names go out in one write: formatting each line through
    // printf cost a tenth of the whole command.
    lines.clear();
    for (std::size_t i = 0; i < shown; ++i) {
      char digits[16];
      char* const end = std::to_chars(digits, digits + sizeof digits, names[i].id).ptr;
      lines += indent;
      lines += "  ";
      // mutate: tree-ids-unpadded
      lines.append(static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, width - (end - digits))), ' ');
      lines.append(digits, end);
      lines += "  ";
      lines += Display(names[i].text);
      lines += '\n';
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    if (shown < names.size()) std::printf("%s  ... %zu more names\n", indent.c_str(), names.size() - shown);
    if (!deeper && c.ChildCount() > 0)
      std::printf("%s  ... %zu sub-container%s below\n", indent.c_str(), c.ChildCount(), c.ChildCount() == 1 ? "" : "s");
  });
  if (!any) std::printf("(no containers)\n");
}

Json TreeJson(const Document& doc, const TreeOptions& options) {
  Json json = Json::array();
  // Where each container's object goes: the array of its parent (or the
  // top), which takes no other entry until the container's sub-tree is done.
  std::vector<Json*> into;
  VisitByID(doc, options, [&](const ContainerRef& c, int depth, bool deeper) {
    // mutate: json-nests-without-end
    into.resize(std::min(static_cast<std::size_t>(depth), kJsonNestingLevels));
    Json& list = into.empty() ? json : *into.back();
    Json item;
    item["id"] = c.Id();
    if (static_cast<std::size_t>(depth) > kJsonNestingLevels) {
      item["depth"] = depth;
      item["parent"] = c.ParentId();
    }
    item["type"] = ContainerTypeNumber(c.Type());
    item["typeName"] = ContainerTypeName(c.Type());
    if (const CString label = options.label ? options.label(c.Id()) : CString(); !label.empty())
      item["label"] = JsonText(label);
    Json names = Json::array();
    for (const ShownName& n : SortedNames(c)) names.push_back({{"id", n.id}, {"name", JsonText(n.text)}});
    item["names"] = std::move(names);
    item["containers"] = Json::array();
    if (!deeper && c.ChildCount() > 0) item["containersNotShown"] = c.ChildCount();
    list.push_back(std::move(item));
    into.push_back(&list.back()["containers"]);
  });
  return json;
}

TreeCounts CountTree(const Document& doc) {
  TreeCounts counts;
  for (ContainerRef c : doc.Walk()) {
    ++counts.containers;
    counts.names += static_cast<int>(c.NameCount());
  }
  return counts;
}

}  // namespace nametree::cli
