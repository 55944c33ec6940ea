// Commands on whole documents: init, tree, dump, import-legacy.
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "container_arg.h"
#include "document.h"
#include "keywords.h"
#include "navigate.h"
#include "lint.h"
#include "nametree/utf8.h"
#include "output.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

struct InitOptions {
  std::string file;
  bool dryRun = false;
};

int RunInit(const InitOptions& o, const Context& context) {
  Document doc = Document::InMemory();
  if (int rc = CreateDocument(context.Report(), doc, o.file, CreateOptions(o.dryRun))) return rc;
  if (int rc = SaveDocument(context.Report(), doc)) return rc;
  std::printf("created %s (no containers yet; add one with 'nametree add-container %s 0')\n",
              o.file.c_str(), o.file.c_str());
  return kExitOk;
}

struct TreeCommandOptions {
  std::string file;
  std::optional<ContainerWord> container;
  std::optional<Bounded<0, 65535>> depth;
  bool json = false;
};

int RunTree(const TreeCommandOptions& o, const Context& context) {
  TreeOptions options;
  if (o.depth) options.maxDepth = static_cast<int>(o.depth->value);
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, false)) return rc;
  if (o.container)
    if (int rc = ResolveShownContainer(context, doc, *o.container, &options.root)) return rc;
  options.label = [&doc](std::uint32_t id) { return doc.Label16(id); };
  if (!o.json) {
    PrintTree(doc, options);
    return kExitOk;
  }
  Json json;
  json["file"] = o.file;
  json["lastIssuedID"] = doc.StoredLastIssuedId();
  json["containers"] = TreeJson(doc, options);
  PrintJson(json);
  return kExitOk;
}

struct DumpOptions {
  std::string file;
  bool json = false;
  bool canonical = false;
};

int RunDump(const DumpOptions& o, const Context& context) {
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(context.Report(), doc, o.file, false)) return rc;
  if (o.canonical) return PrintCanonical(doc);
  const bool asJson = o.json;
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

struct ImportLegacyOptions {
  std::string from;
  std::string to;
  bool json = false;
  bool dryRun = false;
};

int RunImportLegacy(const ImportLegacyOptions& o, const Context& context) {
  const std::string& from = o.from;
  const std::string& to = o.to;
  std::vector<CLegacyDrop> drops;
  Document doc = Document::InMemory();
  if (int rc = ImportLegacyDocument(context.Report(), from, doc, &drops)) return rc;
  if (int rc = CreateDocument(context.Report(), doc, to, CreateOptions(o.dryRun))) return rc;
  if (int rc = SaveDocument(context.Report(), doc)) return rc;
  const TreeCounts counts = CountTree(doc);
  if (o.json) {
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
  table.push_back(Binder<InitOptions>()
                      .Arg(file, &InitOptions::file)
                      .Opt(kDryRunOption, &InitOptions::dryRun)
                      .Command("init", "create a new, empty document",
                               "FILE must not exist yet. The document holds an empty name server; add containers with\n"
                               "'nametree add-container FILE 0 --type global'.",
                               RunInit));
  using Tree = TreeCommandOptions;
  table.push_back(
      Binder<Tree>()
          .Arg(file, &Tree::file)
          .Arg({"CONTAINER", "show this container's sub-tree alone (an ID or @LABEL)", false}, &Tree::container)
          .Opt({"depth", "N", "show at most N levels below the first container shown"}, &Tree::depth)
          .Opt({"json", "", "one JSON object: file, lastIssuedID, containers (nested)"}, &Tree::json)
          .Command("tree", "show the container tree with types, IDs and names",
                   "Each container is shown with its ID and type (plain 0, global 2, target 3, own 4), then\n"
                   "every name it holds by ID (also a second ID under a text that differs only in case),\n"
                   "then its sub-containers; a labelled container also shows @LABEL. CONTAINER shows its\n"
                   "sub-tree alone, --depth stops N levels below and counts what is not shown. Control\n"
                   "characters in names are shown escaped.",
                   RunTree));
  table.push_back(Binder<DumpOptions>()
                      .Arg(file, &DumpOptions::file)
                      .Opt({"json", "", "a JSON array of steps: indent, step, id, and type or name"}, &DumpOptions::json)
                      .Opt({"canonical", "", "a stable text instead: sorted by ID, with labels and keywords and no "
                                             "counter, fit for comparing versions (git diff)"},
                           &DumpOptions::canonical)
                      .Command("dump", "walk the tree the way the library's trace dump does",
                               "Lists every name and container in the order of the library's trace walk (storage\n"
                               "order), indented by level.",
                               RunDump));
  static const std::string kImportLegacyDetails =
      "IN is read through its \"QXTNameServer\" storage (or the older alternative) and its\n"
      "\"NameService\" element; the converted names keep their IDs. Every record the\n"
      "conversion leaves out is listed with the reason. A converted container that a\n"
      "document cannot hold (more than " + std::to_string(kMaxEntriesPerTable) + " names or sub-containers) fails the import and\n"
      "nothing is written. OUT must not exist yet.";
  table.push_back(Binder<ImportLegacyOptions>()
                      .Arg({"IN", "the document of the earlier format"}, &ImportLegacyOptions::from)
                      .Arg({"OUT", "the new document"}, &ImportLegacyOptions::to)
                      .Opt(kJsonOption, &ImportLegacyOptions::json)
                      .Opt(kDryRunOption, &ImportLegacyOptions::dryRun)
                      .Command("import-legacy", "convert a document of the earlier format into a new document",
                               kImportLegacyDetails,
                               RunImportLegacy));
}

}  // namespace nametree::cli
