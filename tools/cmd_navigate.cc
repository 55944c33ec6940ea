// 'nametree ls': one container at a time, for documents too large to read
// as a whole tree: its names with their IDs and its sub-containers with
// what each holds.
#include <algorithm>
#include <cstdio>

#include "cli.h"
#include "container_arg.h"
#include "lint.h"
#include "nametree/tree_walk.h"
#include "navigate.h"

namespace nametree::cli {

int ResolveShownContainer(const Context& context, Document& doc, const ContainerWord& word, std::uint32_t* id) {
  std::string error;
  ContainerWord found = word;
  if (!ResolveLabel(doc, "CONTAINER", &found, &error)) return context.UsageError(error);
  if (const Result<ContainerRef> shown = doc.Container(found.id); !shown) {
    context.Report().File(doc.Path().string(), std::string(shown.error().reason()), "not-found");
    return kExitError;
  }
  *id = found.id;
  return kExitOk;
}

namespace {

std::string Holds(const ContainerRef& c) {
  return CountOf(c.NameCount(), "name", "names") + ", " + CountOf(c.ChildCount(), "sub-container", "sub-containers");
}

Json CountsJson(const Document& doc, const ContainerRef& c) {
  Json json = {{"id", c.Id()}, {"type", ContainerTypeNumber(c.Type())}, {"typeName", ContainerTypeName(c.Type())}};
  AddLabelJson(json, doc, c.Id());
  json["names"] = c.NameCount();
  json["containers"] = c.ChildCount();
  return json;
}

struct LsOptions {
  std::string file;
  std::optional<ContainerWord> container;
  bool json = false;
};

int RunLs(const LsOptions& o, const Context& context) {
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, false)) return rc;
  std::uint32_t id = 0;
  if (o.container)
    if (int rc = ResolveShownContainer(context, doc, *o.container, &id)) return rc;
  // The top level has no names; its "sub-containers" are the top-level containers.
  std::vector<std::pair<std::uint32_t, std::u16string_view>> names;
  std::vector<ContainerRef> children;
  std::optional<ContainerRef> self;
  if (id == 0) {
    for (ContainerRef top : doc.Levels(0)) children.push_back(top);
  } else {
    for (ContainerRef c : doc.Walk(id, 0)) self = c;
    for (NameRef n : self->Names()) names.emplace_back(n.Id(), n.Text());
    children.assign(self->Children().begin(), self->Children().end());
  }
  std::sort(names.begin(), names.end());
  std::sort(children.begin(), children.end(), [](const ContainerRef& a, const ContainerRef& b) { return a.Id() < b.Id(); });

  if (o.json) {
    Json json;
    json["file"] = doc.Path().string();
    if (self) {
      json["container"] = CountsJson(doc, *self);
      json["container"]["path"] = PathText(self->Path());
    } else {
      json["container"] = nullptr;
    }
    Json list = Json::array();
    for (const auto& [nameID, text] : names) list.push_back({{"id", nameID}, {"name", JsonText(text)}});
    json["names"] = std::move(list);
    list = Json::array();
    for (const ContainerRef& c : children) list.push_back(CountsJson(doc, c));
    json["containers"] = std::move(list);
    PrintJson(json);
    return kExitOk;
  }
  if (self)
    std::printf("container %u (%s)%s at %s: %s\n", id, ContainerTypeName(self->Type()).c_str(), LabelSuffix(doc, id).c_str(),
                PathText(self->Path()).c_str(), Holds(*self).c_str());
  else
    std::printf("top level: %s\n", CountOf(children.size(), "container", "containers").c_str());
  const int width = names.empty() ? 0 : static_cast<int>(std::to_string(names.back().first).size());
  for (const auto& [nameID, text] : names) std::printf("  %*u  %s\n", width, nameID, Display(text).c_str());
  for (const ContainerRef& c : children)
    std::printf("  container %u (%s)%s: %s\n", c.Id(), ContainerTypeName(c.Type()).c_str(), LabelSuffix(doc, c.Id()).c_str(),
                Holds(c).c_str());
  return kExitOk;
}

}  // namespace

void AddNavigateCommands(std::vector<CommandSpec>& table) {
  table.push_back(Binder<LsOptions>()
                      .Arg({"FILE", "the document"}, &LsOptions::file)
                      .Arg({"CONTAINER", "the container: an ID or @LABEL", false}, &LsOptions::container)
                      .Opt(kJsonOption, &LsOptions::json)
                      .Command("ls", "one container: its names and its sub-containers with what they hold",
                               "Lists the container's names by ID, then its sub-containers, each with how many names\n"
                               "and sub-containers it holds. Without CONTAINER, the top-level containers. Exit 1 when\n"
                               "no container has the ID.",
                               RunLs));
}

}  // namespace nametree::cli
