// 'nametree label': names for containers, kept in the document beside its
// name server (never in it), so that commands, batch lines and CSV rows
// can write @LABEL where a container's ID goes.
#include <cstdio>

#include "cli.h"
#include "container_arg.h"
#include "keywords.h"
#include "lint.h"
#include "nametree/tree_walk.h"
#include "navigate.h"

namespace nametree::cli {

namespace {

struct LabelOptions : WriteFlags {
  std::string file;
  std::optional<ContainerWord> container;
  std::optional<NameText> label;
  bool remove = false;
  bool json = false;
};

int ListLabels(const LabelOptions& o, Document& doc) {
  Json list = Json::array();
  const std::vector<std::pair<std::uint32_t, CString>> labels = doc.Labels16();
  for (const auto& [id, label] : labels) {
    const ContainerRef ref = *doc.FindContainer(id);
    if (o.json) {
      list.push_back({{"label", JsonText(label)}, {"id", id}, {"type", ContainerTypeNumber(ref.Type())}, {"typeName", ContainerTypeName(ref.Type())},
                      {"path", PathText(ref.Path())}});
    } else {
      std::printf("@%s  container %u (%s) at %s\n", Display(label).c_str(), id, ContainerTypeName(ref.Type()).c_str(),
                  PathText(ref.Path()).c_str());
    }
  }
  if (o.json) PrintJson({{"file", doc.Path().string()}, {"labels", std::move(list)}});
  else if (labels.empty()) std::printf("no container of %s has a label\n", doc.Path().c_str());
  return kExitOk;
}

std::string CheckLabel(const LabelOptions& o) {
  if (o.label && o.remove) return "give LABEL or --remove, not both";
  if (o.container && !o.label && !o.remove) return "LABEL is missing (or --remove to take the label away)";
  if (o.label && o.label->value.empty()) return "a label is not empty (--remove takes one away)";
  return {};
}

int RunLabel(const LabelOptions& o, const Context& context) {
  const bool remove = o.remove;
  const std::optional<CString> label = o.label ? o.label->value : CString();
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, o.container.has_value(), o.Options())) return rc;
  if (!o.container) return ListLabels(o, doc);
  std::uint32_t id = 0;
  if (int rc = ResolveShownContainer(context, doc, *o.container, &id)) return rc;
  const CString old = doc.Label16(id);
  const std::string before = Display(old);
  if (remove && old.empty()) {
    context.Report().File(doc.Path().string(), "container " + std::to_string(id) + " has no label; nothing to remove", "refused");
    return kExitRefused;
  }
  if (!old.empty() && old == *label) {
    std::printf("container %u has the label @%s already\n", id, before.c_str());
    return kExitOk;
  }
  if (Result<void> labelled = doc.SetLabel(id, std::u16string_view(*label)); !labelled) {
    context.Report().File(doc.Path().string(), labelled.error().message(), FileKindName(labelled.error().kind()));
    return kExitRefused;
  }
  if (int rc = SaveDocument(context.Report(), doc)) return rc;
  if (o.json) {
    Json json = {{"file", doc.Path().string()}, {"id", id}};
    json["label"] = remove ? Json() : Json(JsonText(*label));
    json["old"] = old.empty() ? Json() : Json(before);
    PrintJson(json);
  } else if (remove) {
    std::printf("removed the label @%s of container %u\n", before.c_str(), id);
  } else {
    std::printf("labelled container %u @%s%s\n", id, Display(*label).c_str(),
                old.empty() ? "" : (" (was @" + before + ")").c_str());
  }
  return kExitOk;
}

}  // namespace

void AddLabelCommand(std::vector<CommandSpec>& table) {
  using O = LabelOptions;
  table.push_back(Binder<O>()
                      .Arg({"FILE", "the document"}, &O::file)
                      .Arg({"CONTAINER", "the container: an ID or its @LABEL", false}, &O::container)
                      .Arg({"LABEL", "the new label", false}, &O::label)
                      .Opt({"remove", "", "take the container's label away"}, &O::remove)
                      .Write()
                      .Opt(kJsonOption, &O::json)
                      .Check(CheckLabel)
                      .Command("label", "give a container a label that commands take as @LABEL",
                               "Keeps LABEL for the container in the document, beside its names (the name server\n"
                               "itself is not changed). A label follows the name rule and is unique in the document,\n"
                               "letter case ignored. Wherever a command, a batch line or a CSV row takes a container's\n"
                               "ID, @LABEL names it. A label whose container is deleted is dropped at the next save.\n"
                               "Without CONTAINER, lists every label.",
                               RunLabel));
}

}  // namespace nametree::cli
