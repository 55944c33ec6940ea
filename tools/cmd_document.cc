// Commands on whole documents: init, tree, dump, import-legacy.
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "container_arg.h"
#include "document.h"
#include "keywords.h"
#include "navigate.h"
#include "lint.h"
#include "nametree/document_check.h"
#include "nametree/utf8.h"
#include "output.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

int RunInit(const Args& args) {
  Document doc = Document::InMemory();
  if (int rc = CreateDocument(args.Report(), doc, args.At(0), CreateOptions(args))) return rc;
  if (int rc = SaveDocument(args.Report(), doc)) return rc;
  std::printf("created %s (no containers yet; add one with 'nametree add-container %s 0')\n",
              args.At(0).c_str(), args.At(0).c_str());
  return kExitOk;
}

int RunTree(const Args& args) {
  TreeOptions options;
  if (const std::string* depth = args.Value("depth")) {
    const std::optional<std::uint32_t> n = ParseUnsigned(*depth);
    if (!n || *n > 65535) return args.UsageError("--depth must be a number from 0 to 65535, not \"" + Echo(*depth) + "\"");
    options.maxDepth = static_cast<int>(*n);
  }
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  if (args.Count() > 1)
    if (int rc = ResolveShownContainer(args, doc, 1, &options.root)) return rc;
  options.label = [&doc](std::uint32_t id) { return doc.Label16(id); };
  if (!args.Has("json")) {
    PrintTree(doc.Server(), options);
    return kExitOk;
  }
  Json json;
  json["file"] = args.At(0);
  json["lastIssuedID"] = doc.Server().GetStoredLastIssuedID();
  json["containers"] = TreeJson(doc.Server(), options);
  PrintJson(json);
  return kExitOk;
}

int RunDump(const Args& args) {
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  if (args.Has("canonical")) return PrintCanonical(doc);
  const bool asJson = args.Has("json");
  Json steps = Json::array();
  doc.Server().TraceDumpNameServer([&](const CString& indent, bool isContainer, std::uint32_t id,
                                       std::int16_t type, const CString& name) {
    if (asJson) {
      Json step;
      step["indent"] = indent.size();
      step["step"] = isContainer ? "container" : "name";
      step["id"] = id;
      if (isContainer)
        step["type"] = type;
      else
        step["name"] = JsonText(name);
      steps.push_back(std::move(step));
    } else if (isContainer) {
      std::printf("%s%scontainer %u (%s)\n", Indent(indent.size() / 2).c_str(), LevelMark(indent.size() / 2).c_str(), id,
                  ContainerTypeName(type).c_str());
    } else {
      std::printf("%s%u %s\n", Indent(indent.size() / 2).c_str(), id, Display(name).c_str());
    }
  });
  if (asJson) PrintJson(steps);
  return kExitOk;
}

std::string_view RecordWords(CLegacyDrop::Record record) {
  switch (record) {
    case CLegacyDrop::Record::kNameObject: return "name object";
    case CLegacyDrop::Record::kNameBag: return "bag";
    case CLegacyDrop::Record::kBagContainer: return "bag container";
  }
  return "record";
}

std::string_view ReasonKey(CLegacyDrop::Reason reason) {
  switch (reason) {
    case CLegacyDrop::Reason::kReplaced: return "replaced";
    case CLegacyDrop::Reason::kNoContainer: return "no-container";
    case CLegacyDrop::Reason::kContainerMissing: return "container-missing";
    case CLegacyDrop::Reason::kNoParent: return "no-parent";
    case CLegacyDrop::Reason::kParentMissing: return "parent-missing";
  }
  return "dropped";
}

std::string DropWords(const CLegacyDrop& d) {
  const std::string container = std::to_string(d.containerID);
  switch (d.reason) {
    case CLegacyDrop::Reason::kReplaced: return "a later record with the same ID replaced it";
    case CLegacyDrop::Reason::kNoContainer: return "no converted bag lists it and it names no container";
    case CLegacyDrop::Reason::kContainerMissing: return "container " + container + ", where it belongs, does not exist";
    case CLegacyDrop::Reason::kNoParent: return "its parent is 0, so it becomes no container (its names go where they say)";
    case CLegacyDrop::Reason::kParentMissing: return "its parent " + container + " does not exist";
  }
  return "dropped";
}

// Why a converted tree cannot be saved, or empty when it can.
std::string OverLimit(const CNameServer& server) {
  const std::vector<DocumentFinding> over = CheckEntryLimits(server);
  if (over.empty()) return {};
  const DocumentFinding& f = over.front();
  const std::string count = std::to_string(f.count);
  const std::string more = ", more than " + std::to_string(kMaxEntriesPerTable);
  switch (f.limit) {
    case DocumentLimit::kTopLevelContainers: return count + " top-level containers" + more;
    case DocumentLimit::kNames: return "container " + PathText(f.path) + " holds " + count + " names" + more;
    default: return "container " + PathText(f.path) + " holds " + count + " sub-containers" + more;
  }
}

int RunImportLegacy(const Args& args) {
  const std::string& from = args.At(0);
  const std::string& to = args.At(1);
  Document doc = Document::InMemory();
  std::vector<CLegacyDrop> drops;
  doc.Server().SetLegacyDropObserver([&drops](const CLegacyDrop& d) { drops.push_back(d); });
  if (int rc = ImportLegacyDocument(args.Report(), from, doc.Server())) return rc;
  if (const std::string why = OverLimit(doc.Server()); !why.empty()) {
    args.Report().File(from, "the converted document cannot be saved: " + why + "; nothing was written", "refused");
    return kExitError;
  }
  if (int rc = CreateDocument(args.Report(), doc, to, CreateOptions(args))) return rc;
  if (int rc = SaveDocument(args.Report(), doc)) return rc;
  const TreeCounts counts = CountTree(doc.Server());
  if (args.Has("json")) {
    Json json;
    json["from"] = from;
    json["to"] = to;
    json["containers"] = counts.containers;
    json["names"] = counts.names;
    json["dropped"] = drops.size();
    Json list = Json::array();
    for (const CLegacyDrop& d : drops) {
      Json item;
      item["record"] = RecordWords(d.record);
      item["id"] = d.id;
      item["reason"] = ReasonKey(d.reason);
      item["container"] = d.containerID;
      if (d.record == CLegacyDrop::Record::kNameObject) item["name"] = JsonText(d.name);
      item["message"] = DropWords(d);
      list.push_back(std::move(item));
    }
    json["drops"] = std::move(list);
    PrintJson(json);
    return kExitOk;
  }
  std::printf("imported %s into %s: %s, %s\n", from.c_str(), to.c_str(),
              Counted(static_cast<std::size_t>(counts.containers), "container").c_str(),
              Counted(static_cast<std::size_t>(counts.names), "name").c_str());
  if (!drops.empty()) std::printf("dropped %s of %s:\n", Counted(drops.size(), "record").c_str(), from.c_str());
  for (const CLegacyDrop& d : drops) {
    std::string what = std::string(RecordWords(d.record)) + " " + std::to_string(d.id);
    if (d.record == CLegacyDrop::Record::kNameObject) what += " " + Quoted(d.name);
    std::printf("  %s: %s\n", what.c_str(), DropWords(d).c_str());
  }
  return kExitOk;
}

}  // namespace

void AddDocumentCommands(std::vector<CommandSpec>& table) {
  const PositionalSpec file{"FILE", "the document"};
  const OptionSpec json{"json", "", "report as JSON (errors too, on stdout)"};
  table.push_back({"init", "create a new, empty document",
                   "FILE must not exist yet. The document holds an empty name server; add containers with\n"
                   "'nametree add-container FILE 0 --type global'.",
                   {file}, {kDryRunOption}, RunInit});
  table.push_back({"tree", "show the container tree with types, IDs and names",
                   "Each container is shown with its ID and type (plain 0, global 2, target 3, own 4), then\n"
                   "every name it holds by ID (also a second ID under a text that differs only in case),\n"
                   "then its sub-containers; a labelled container also shows @LABEL. CONTAINER shows its\n"
                   "sub-tree alone, --depth stops N levels below and counts what is not shown. Control\n"
                   "characters in names are shown escaped.",
                   {file, {"CONTAINER", "show this container's sub-tree alone (an ID or @LABEL)", false}},
                   {{"depth", "N", "show at most N levels below the first container shown"},
                    {"json", "", "one JSON object: file, lastIssuedID, containers (nested)"}},
                   RunTree});
  table.push_back({"dump", "walk the tree the way the library's trace dump does",
                   "Lists every name and container in the order of the library's trace walk (storage\n"
                   "order), indented by level.",
                   {file},
                   {{"json", "", "a JSON array of steps: indent, step, id, and type or name"},
                    {"canonical", "", "a stable text instead: sorted by ID, with labels and keywords and no "
                                      "counter, fit for comparing versions (git diff)"}},
                   RunDump});
  table.push_back({"import-legacy", "convert a document of the earlier format into a new document",
                   "IN is read through its \"QXTNameServer\" storage (or the older alternative) and its\n"
                   "\"NameService\" element; the converted names keep their IDs. Every record the\n"
                   "conversion leaves out is listed with the reason. A converted container that a\n"
                   "document cannot hold (more than 32767 names or sub-containers) fails the import and\n"
                   "nothing is written. OUT must not exist yet.",
                   {{"IN", "the document of the earlier format"}, {"OUT", "the new document"}},
                   {json, kDryRunOption}, RunImportLegacy});
}

}  // namespace nametree::cli
