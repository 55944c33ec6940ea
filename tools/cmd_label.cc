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

int ListLabels(const Args& args, Document& doc) {
  Json list = Json::array();
  const std::vector<std::pair<std::uint32_t, CString>> labels = doc.Labels16();
  for (const auto& [id, label] : labels) {
    const CNameContainer* c = doc.Server().GetContainer(id);
    const ContainerRef ref(*c, 0);
    if (args.Has("json")) {
      list.push_back({{"label", JsonText(label)}, {"id", id}, {"type", ref.Type()}, {"typeName", ContainerTypeName(ref.Type())},
                      {"path", PathText(ref.Path())}});
    } else {
      std::printf("@%s  container %u (%s) at %s\n", Display(label).c_str(), id, ContainerTypeName(ref.Type()).c_str(),
                  PathText(ref.Path()).c_str());
    }
  }
  if (args.Has("json")) PrintJson({{"file", doc.Path().string()}, {"labels", std::move(list)}});
  else if (labels.empty()) std::printf("no container of %s has a label\n", doc.Path().c_str());
  return kExitOk;
}

int RunLabel(const Args& args) {
  const bool remove = args.Has("remove");
  if (args.Count() == 3 && remove) return args.UsageError("give LABEL or --remove, not both");
  if (args.Count() == 2 && !remove) return args.UsageError("LABEL is missing (or --remove to take the label away)");
  std::optional<CString> label = args.Count() == 3 ? ParseName(args.At(2)) : CString();
  if (!label) return args.UsageError("\"" + Echo(args.At(2)) + "\" is not valid UTF-8");
  if (args.Count() == 3 && label->empty()) return args.UsageError("a label is not empty (--remove takes one away)");

  Document doc = Document::InMemory();
  DocumentOptions options;
  if (int rc = WriteOptions(args, &options)) return rc;
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), args.Count() > 1, options)) return rc;
  if (args.Count() == 1) return ListLabels(args, doc);
  std::uint32_t id = 0;
  if (int rc = ResolveShownContainer(args, doc, 1, &id)) return rc;
  const CString old = doc.Label16(id);
  const std::string before = Display(old);
  if (remove && old.empty()) {
    args.Report().File(doc.Path().string(), "container " + std::to_string(id) + " has no label; nothing to remove", "refused");
    return kExitRefused;
  }
  if (!old.empty() && old == *label) {
    std::printf("container %u has the label @%s already\n", id, before.c_str());
    return kExitOk;
  }
  if (Result<void> labelled = doc.SetLabel(id, std::u16string_view(*label)); !labelled) {
    args.Report().File(doc.Path().string(), labelled.error().message(), FileKindName(labelled.error().kind()));
    return kExitRefused;
  }
  if (int rc = SaveDocument(args.Report(), doc)) return rc;
  if (args.Has("json")) {
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
  table.push_back({"label", "give a container a label that commands take as @LABEL",
                   "Keeps LABEL for the container in the document, beside its names (the name server\n"
                   "itself is not changed). A label follows the name rule and is unique in the document,\n"
                   "letter case ignored. Wherever a command, a batch line or a CSV row takes a container's\n"
                   "ID, @LABEL names it. A label whose container is deleted is dropped at the next save.\n"
                   "Without CONTAINER, lists every label.",
                   {{"FILE", "the document"},
                    {"CONTAINER", "the container: an ID or its @LABEL", false},
                    {"LABEL", "the new label", false}},
                   {{"remove", "", "take the container's label away"}, kWaitOption, kForceOption, kDryRunOption,
                    {"json", "", "report as JSON (errors too, on stdout)"}},
                   RunLabel});
}

}  // namespace nametree::cli
