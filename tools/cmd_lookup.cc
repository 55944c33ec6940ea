// Lookups across the whole document: find (every entry with a text, in any
// letter case) and show (everything that carries an ID).
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "document.h"
#include "output.h"
#include "lint.h"
#include "nametree/tree_walk.h"

namespace nametree::cli {

namespace {

Json ContainerJson(const ContainerRef& c) {
  return {{"id", c.Id()}, {"type", c.Type()}, {"typeName", TypeLabel(c.Type())}, {"path", PathText(c.Path())}};
}

std::string ContainerWords(const ContainerRef& c) {
  return "container " + std::to_string(c.Id()) + " (" + TypeLabel(c.Type()) + ") at " + PathText(c.Path());
}

int RunFind(const Args& args) {
  std::optional<CString> text = ParseName(args.At(1));
  if (!text) return args.UsageError("\"" + args.At(1) + "\" is not valid UTF-8");
  Document doc;
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  const CString key = NameCompareKey(*text);
  Json found = Json::array();
  int count = 0;
  for (ContainerRef c : TreeWalk(doc.Server())) {
    for (NameRef n : c.Names()) {
      if (n.Text().size() != key.size() || NameCompareKey(n.Text()) != key) continue;
      ++count;
      if (args.Has("json"))
        found.push_back({{"id", n.Id()}, {"name", JsonText(n.Text())}, {"container", ContainerJson(c)}});
      else
        std::printf("%u  %s  in %s\n", n.Id(), Quoted(n.Text()).c_str(), ContainerWords(c).c_str());
    }
  }
  if (args.Has("json")) PrintJson({{"text", JsonText(*text)}, {"found", std::move(found)}});
  else if (count == 0) std::printf("no entry is %s in any letter case\n", Quoted(*text).c_str());
  return count == 0 ? kExitRefused : kExitOk;
}

int RunShow(const Args& args) {
  std::optional<std::uint32_t> id = ParseUnsigned(args.At(1));
  if (!id) return args.UsageError("ID must be a number, not \"" + args.At(1) + "\"");
  Document doc;
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  Json names = Json::array(), containers = Json::array();
  for (ContainerRef c : TreeWalk(doc.Server())) {
    if (c.Id() == *id) {
      containers.push_back(ContainerJson(c));
      if (!args.Has("json")) std::printf("%s\n", ContainerWords(c).c_str());
    }
    for (NameRef n : c.Names()) {
      if (n.Id() != *id) continue;
      names.push_back({{"id", n.Id()}, {"name", JsonText(n.Text())}, {"container", ContainerJson(c)}});
      if (!args.Has("json"))
        std::printf("name %u %s in %s\n", n.Id(), Quoted(n.Text()).c_str(), ContainerWords(c).c_str());
    }
  }
  const bool any = !names.empty() || !containers.empty();
  if (args.Has("json")) PrintJson({{"id", *id}, {"names", std::move(names)}, {"containers", std::move(containers)}});
  else if (!any) std::printf("nothing has ID %u\n", *id);
  return any ? kExitOk : kExitRefused;
}

}  // namespace

void AddLookupCommands(std::vector<CommandSpec>& table) {
  const OptionSpec json{"json", "", "report as JSON (errors too, on stdout)"};
  table.push_back({"find", "every entry with a text, in any letter case, anywhere",
                   "Lists every name whose text equals TEXT when letter case is ignored, in every container,\n"
                   "with its ID, its stored spelling and the container's path from the top (IDs joined by\n"
                   "/). Exit 1 when there is none.",
                   {{"FILE", "the document"}, {"TEXT", "the text to look for"}}, {json}, RunFind});
  table.push_back({"show", "every name and container with an ID",
                   "Lists every name and every container that carries ID, with where each is and its\n"
                   "path from the top. A damaged document may hold an ID more than once. Exit 1 when\n"
                   "nothing has it.",
                   {{"FILE", "the document"}, {"ID", "the ID"}}, {json}, RunShow});
}

}  // namespace nametree::cli
