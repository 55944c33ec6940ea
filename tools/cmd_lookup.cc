// Lookups across the whole document: find (every entry with a text, in any
// letter case) and show (everything that carries an ID).
#include <cstdio>

#include "args.h"
#include "cli.h"
#include "document.h"
#include "output.h"
#include "platform/text.h"
#include "snapshot.h"

namespace nametree::cli {

namespace {

Json ContainerJson(const Snapshot& s, int index) {
  const ContainerEntry& c = s.containers[static_cast<std::size_t>(index)];
  return {{"id", c.id}, {"type", c.type}, {"typeName", TypeLabel(c.type)}, {"path", s.Path(index)}};
}

std::string ContainerWords(const Snapshot& s, int index) {
  const ContainerEntry& c = s.containers[static_cast<std::size_t>(index)];
  return "container " + std::to_string(c.id) + " (" + TypeLabel(c.type) + ") at " + s.Path(index);
}

int RunFind(const Args& args) {
  std::optional<CString> text = ParseName(args.At(1));
  if (!text) return args.UsageError("\"" + args.At(1) + "\" is not valid UTF-8");
  Document doc;
  if (int rc = OpenDocument(doc, args.At(0), false)) return rc;
  const Snapshot s = TakeSnapshot(doc.Server());
  const CString key = ToUpper(*text);
  Json found = Json::array();
  int count = 0;
  for (std::size_t i = 0; i < s.containers.size(); ++i) {
    for (const NameEntry& n : s.containers[i].names) {
      if (n.text.size() != key.size() || ToUpper(n.text) != key) continue;
      ++count;
      if (args.Has("json"))
        found.push_back({{"id", n.id}, {"name", JsonText(n.text)}, {"container", ContainerJson(s, static_cast<int>(i))}});
      else
        std::printf("%u  %s  in %s\n", n.id, Quoted(n.text).c_str(), ContainerWords(s, static_cast<int>(i)).c_str());
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
  if (int rc = OpenDocument(doc, args.At(0), false)) return rc;
  const Snapshot s = TakeSnapshot(doc.Server());
  Json names = Json::array(), containers = Json::array();
  for (std::size_t i = 0; i < s.containers.size(); ++i) {
    const int index = static_cast<int>(i);
    if (s.containers[i].id == *id) {
      containers.push_back(ContainerJson(s, index));
      if (!args.Has("json")) std::printf("%s\n", ContainerWords(s, index).c_str());
    }
    for (const NameEntry& n : s.containers[i].names) {
      if (n.id != *id) continue;
      names.push_back({{"id", n.id}, {"name", JsonText(n.text)}, {"container", ContainerJson(s, index)}});
      if (!args.Has("json"))
        std::printf("name %u %s in %s\n", n.id, Quoted(n.text).c_str(), ContainerWords(s, index).c_str());
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
