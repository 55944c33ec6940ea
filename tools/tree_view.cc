#include "tree_view.h"

#include <algorithm>
#include <cstdio>

#include "nametree/utf8.h"

namespace nametree::cli {

std::vector<std::pair<std::uint32_t, CString>> NamesOf(const CNameContainer& c) {
  const std::size_t n = static_cast<std::size_t>(std::max(0, c.GetNumNames()));
  std::vector<CString> texts(n);
  std::vector<std::uint32_t> ids(n);
  c.GetAllNameAndIDsInContainer(texts.data(), ids.data());
  std::vector<std::pair<std::uint32_t, CString>> names;
  for (std::size_t i = 0; i < n; ++i) names.emplace_back(ids[i], std::move(texts[i]));
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::uint32_t> SubContainersOf(const CNameContainer& c) {
  std::vector<std::uint32_t> ids(static_cast<std::size_t>(std::max(0, c.GetNumSubContainers())));
  c.GetSubContainerIDs(ids.data());
  std::sort(ids.begin(), ids.end());
  return ids;
}

namespace {

void PrintContainer(const CNameContainer& c, int depth, const TreeOptions& options) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  std::string caption = options.caption ? options.caption(c.GetID()) : std::string();
  std::printf("%scontainer %u (%s)%s%s\n", indent.c_str(), c.GetID(),
              TypeLabel(c.GetContainerType()).c_str(), caption.empty() ? "" : "  ",
              caption.c_str());
  const auto names = NamesOf(c);
  const int width = names.empty() ? 0 : static_cast<int>(std::to_string(names.back().first).size());
  std::size_t shown = names.size();
  if (options.maxNamesShown >= 0)
    shown = std::min(shown, static_cast<std::size_t>(options.maxNamesShown));
  for (std::size_t i = 0; i < shown; ++i)
    std::printf("%s  %*u  %s\n", indent.c_str(), width, names[i].first,
                ToUtf8(names[i].second).c_str());
  if (shown < names.size())
    std::printf("%s  ... %zu more names\n", indent.c_str(), names.size() - shown);
  for (std::uint32_t id : SubContainersOf(c))
    if (const CNameContainer* sub = c.FindContainer(id)) PrintContainer(*sub, depth + 1, options);
}

void WriteContainerJson(JsonWriter& json, const CNameContainer& c) {
  json.BeginObject();
  json.Member("id", c.GetID());
  json.Member("type", c.GetContainerType());
  json.MemberUtf8("typeName", TypeLabel(c.GetContainerType()));
  json.Key("names");
  json.BeginArray();
  for (const auto& [id, text] : NamesOf(c)) {
    json.BeginObject();
    json.Member("id", id);
    json.Member("name", text);
    json.EndObject();
  }
  json.EndArray();
  json.Key("containers");
  json.BeginArray();
  for (std::uint32_t id : SubContainersOf(c))
    if (const CNameContainer* sub = c.FindContainer(id)) WriteContainerJson(json, *sub);
  json.EndArray();
  json.EndObject();
}

void Count(const CNameContainer& c, TreeCounts& counts) {
  ++counts.containers;
  counts.names += c.GetNumNames();
  for (std::uint32_t id : SubContainersOf(c))
    if (const CNameContainer* sub = c.FindContainer(id)) Count(*sub, counts);
}

}  // namespace

void PrintTree(const CNameServer& server, const TreeOptions& options) {
  const auto tops = server.GetTopLevelContainerIDs();
  if (tops.empty()) std::printf("(no containers)\n");
  for (std::uint32_t id : tops)
    if (const CNameContainer* c = server.GetContainer(id)) PrintContainer(*c, 0, options);
}

void WriteTreeJson(JsonWriter& json, const CNameServer& server) {
  json.BeginArray();
  for (std::uint32_t id : server.GetTopLevelContainerIDs())
    if (const CNameContainer* c = server.GetContainer(id)) WriteContainerJson(json, *c);
  json.EndArray();
}

TreeCounts CountTree(const CNameServer& server) {
  TreeCounts counts;
  for (std::uint32_t id : server.GetTopLevelContainerIDs())
    if (const CNameContainer* c = server.GetContainer(id)) Count(*c, counts);
  return counts;
}

}  // namespace nametree::cli
