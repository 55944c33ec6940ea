// Lookups across the whole document: find (every entry with a text, in any
// letter case) and show (everything that carries an ID).
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "container_arg.h"
#include "document.h"
#include "lint.h"
#include "nametree/tree_walk.h"
#include "navigate.h"
#include "output.h"

namespace nametree::cli {

namespace {

Json ContainerJson(const Document& doc, const ContainerRef& c) {
  Json json = {{"id", c.Id()}, {"type", c.Type()}, {"typeName", ContainerTypeName(c.Type())}};
  AddLabelJson(json, doc, c.Id());
  json["path"] = PathText(c.Path());
  return json;
}

std::string ContainerWords(const Document& doc, const ContainerRef& c) {
  return "container " + std::to_string(c.Id()) + " (" + ContainerTypeName(c.Type()) + ")" + LabelSuffix(doc, c.Id()) +
         " at " + PathText(c.Path());
}

int RunFind(const Args& args) {
  std::optional<CString> text = ParseName(args.At(1));
  if (!text) return args.UsageError("\"" + args.At(1) + "\" is not valid UTF-8");
  using Mode = NameMatcher::Mode;
  const int modes = args.Has("prefix") + args.Has("glob") + args.Has("regex");
  if (modes > 1) return args.UsageError("--prefix, --glob and --regex exclude each other");
  const Mode mode = args.Has("prefix") ? Mode::kPrefix
                    : args.Has("glob") ? Mode::kGlob
                    : args.Has("regex") ? Mode::kRegex
                                        : Mode::kExact;
  std::string error;
  const std::unique_ptr<NameMatcher> matcher = NameMatcher::Make(mode, *text, &error);
  if (!matcher) return args.UsageError(error);
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  Json found = Json::array();
  int count = 0;
  for (ContainerRef c : TreeWalk(doc.Server())) {
    std::string where;
    for (NameRef n : c.Names()) {
      if (!matcher->Matches(CString(n.Text()))) continue;
      ++count;
      if (args.Has("json")) {
        found.push_back({{"id", n.Id()}, {"name", JsonText(n.Text())}, {"container", ContainerJson(doc, c)}});
        continue;
      }
      if (where.empty()) where = ContainerWords(doc, c);
      std::printf("%u  %s  in %s\n", n.Id(), Quoted(n.Text()).c_str(), where.c_str());
    }
  }
  if (args.Has("json")) PrintJson({{"text", JsonText(*text)}, {"found", std::move(found)}});
  else if (count == 0 && mode == Mode::kExact) std::printf("no entry is %s in any letter case\n", Quoted(*text).c_str());
  else if (count == 0) std::printf("no entry matches %s\n", Quoted(*text).c_str());
  return count == 0 ? kExitRefused : kExitOk;
}

int RunShow(const Args& args) {
  std::optional<std::uint32_t> id = IsLabelArg(args.At(1)) ? 0 : ParseUnsigned(args.At(1));
  if (!id) return args.UsageError("ID must be a number or @LABEL, not \"" + args.At(1) + "\"");
  Document doc = Document::InMemory();
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  std::string error;
  if (IsLabelArg(args.At(1)) && !(id = ContainerArg(doc, args.At(1), "ID", &error))) return args.UsageError(error);
  Json names = Json::array(), containers = Json::array();
  for (ContainerRef c : TreeWalk(doc.Server())) {
    if (c.Id() == *id) {
      Json json = ContainerJson(doc, c);
      const SubtreeCounts tree = CountSubtree(doc.Server(), c.Id());
      json["names"] = c.NameCount();
      json["containers"] = c.ChildCount();
      json["treeNames"] = tree.names;
      json["treeContainers"] = tree.containers;
      containers.push_back(std::move(json));
      if (!args.Has("json"))
        std::printf("%s\n  holds %s and %s; with everything below it, %s in %s\n",
                    ContainerWords(doc, c).c_str(), CountOf(c.NameCount(), "name", "names").c_str(),
                    CountOf(c.ChildCount(), "sub-container", "sub-containers").c_str(),
                    CountOf(tree.names, "name", "names").c_str(),
                    CountOf(tree.containers, "container", "containers").c_str());
    }
    for (NameRef n : c.Names()) {
      if (n.Id() != *id) continue;
      names.push_back({{"id", n.Id()}, {"name", JsonText(n.Text())}, {"container", ContainerJson(doc, c)}});
      if (!args.Has("json"))
        std::printf("name %u %s in %s\n", n.Id(), Quoted(n.Text()).c_str(), ContainerWords(doc, c).c_str());
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
                   "Lists every name whose text equals TEXT (or begins with it, or matches the pattern)\n"
                   "when letter case is ignored, in every container,\n"
                   "with its ID, its stored spelling and the container's path from the top (IDs joined by\n"
                   "/). Exit 1 when there is none.",
                   {{"FILE", "the document"}, {"TEXT", "the text to look for"}},
                   {{"prefix", "", "names that begin with TEXT"},
                    {"glob", "", "TEXT is a pattern: * stands for any run of characters, ? for one"},
                    {"regex", "", "TEXT is a regular expression (ICU syntax) found anywhere in a name; ^ and $ anchor it"},
                    json},
                   RunFind});
  table.push_back({"show", "every name and container with an ID",
                   "Lists every name and every container that carries ID, with where each is and its\n"
                   "path from the top; a container also with how many names and sub-containers it holds\n"
                   "and its whole tree holds. A damaged document may hold an ID more than once. Exit 1\n"
                   "when nothing has it.",
                   {{"FILE", "the document"}, {"ID", "the ID, or @LABEL for a labelled container"}}, {json}, RunShow});
}

}  // namespace nametree::cli
