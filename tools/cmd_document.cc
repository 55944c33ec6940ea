// Commands on whole documents: init, tree, dump, import-legacy.
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "document.h"
#include "nametree/utf8.h"
#include "output.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

int RunInit(const Args& args) {
  Document doc;
  if (int rc = doc.Create(args.At(0))) return rc;
  if (int rc = doc.Save()) return rc;
  std::printf("created %s (no containers yet; add one with 'nametree add-container %s 0')\n",
              args.At(0).c_str(), args.At(0).c_str());
  return kExitOk;
}

int RunTree(const Args& args) {
  Document doc;
  if (int rc = doc.Open(args.At(0), false)) return rc;
  if (!args.Has("json")) {
    PrintTree(doc.Server(), TreeOptions{});
    return kExitOk;
  }
  JsonWriter json;
  json.BeginObject();
  json.MemberUtf8("file", args.At(0));
  json.Member("lastIssuedID", CNameContainer::GetLastIssuedNameID());
  json.Key("containers");
  WriteTreeJson(json, doc.Server());
  json.EndObject();
  json.Print();
  return kExitOk;
}

int RunDump(const Args& args) {
  Document doc;
  if (int rc = doc.Open(args.At(0), false)) return rc;
  const bool asJson = args.Has("json");
  JsonWriter json;
  json.BeginArray();
  doc.Server().TraceDumpNameServer([&](const CString& indent, bool isContainer, std::uint32_t id,
                                       std::int16_t type, const CString& name) {
    if (asJson) {
      json.BeginObject();
      json.Member("indent", static_cast<std::int64_t>(indent.size()));
      json.MemberUtf8("step", isContainer ? "container" : "name");
      json.Member("id", id);
      if (isContainer)
        json.Member("type", type);
      else
        json.Member("name", name);
      json.EndObject();
    } else if (isContainer) {
      std::printf("%scontainer %u (%s)\n", ToUtf8(indent).c_str(), id, TypeLabel(type).c_str());
    } else {
      std::printf("%s%u %s\n", ToUtf8(indent).c_str(), id, ToUtf8(name).c_str());
    }
  });
  json.EndArray();
  if (asJson) json.Print();
  return kExitOk;
}

int RunImportLegacy(const Args& args) {
  const std::string& from = args.At(0);
  const std::string& to = args.At(1);
  Document doc;
  if (int rc = ImportLegacyDocument(from, doc.Server())) return rc;
  if (int rc = doc.Create(to)) return rc;
  if (int rc = doc.Save()) return rc;
  const TreeCounts counts = CountTree(doc.Server());
  if (args.Has("json")) {
    JsonWriter json;
    json.BeginObject();
    json.MemberUtf8("from", from);
    json.MemberUtf8("to", to);
    json.Member("containers", counts.containers);
    json.Member("names", counts.names);
    json.EndObject();
    json.Print();
  } else {
    std::printf("imported %s into %s: %d containers, %d names\n", from.c_str(), to.c_str(),
                counts.containers, counts.names);
  }
  return kExitOk;
}

}  // namespace

void AddDocumentCommands(std::vector<CommandSpec>& table) {
  table.push_back({"init", "FILE", "create a new, empty document",
                   "FILE must not exist yet. The document holds an empty name server; add\n"
                   "containers with 'nametree add-container FILE 0 --type global'.\n",
                   1, 1, {}, RunInit});
  table.push_back({"tree", "FILE [--json]", "show the container tree with types, IDs and names",
                   "Each container is shown with its ID and type (plain 0, global 2, target 3,\n"
                   "own 4), then its names by ID, then its sub-containers.\n\n"
                   "  --json   one JSON object: file, lastIssuedID, containers (nested)\n",
                   1, 1, {{"json", false}}, RunTree});
  table.push_back({"dump", "FILE [--json]", "walk the tree the way the library's trace dump does",
                   "Lists every name and container in the order of the library's trace walk\n"
                   "(storage order), indented by level.\n\n"
                   "  --json   a JSON array of steps: indent, step, id, and type or name\n",
                   1, 1, {{"json", false}}, RunDump});
  table.push_back({"import-legacy", "IN OUT [--json]",
                   "convert a document of the earlier format into a new document",
                   "IN is read through its \"QXTNameServer\" storage (or the older alternative)\n"
                   "and its \"NameService\" element; the converted names keep their IDs. OUT\n"
                   "must not exist yet.\n\n"
                   "  --json   report the counts as JSON\n",
                   2, 2, {{"json", false}}, RunImportLegacy});
}

}  // namespace nametree::cli
