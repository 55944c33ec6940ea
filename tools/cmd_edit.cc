// Commands that change a document: add, rename, delete, add-container.
// Each loads the document, asks the library for one edit and saves only
// when the library answers S_OK; any other answer leaves the file as it was.
#include <cstdio>

#include "cli.h"
#include "edit_ops.h"
#include "keywords.h"
#include "lint.h"

namespace nametree::cli {

namespace {

Json FindingsJson(const std::vector<DocumentFinding>& findings) {
  Json list = Json::array();
  for (const DocumentFinding& f : findings) {
    const Finding shown = ShownFinding(f);
    Json item = {{"severity", shown.warning ? "warning" : "error"}, {"check", shown.check}, {"message", shown.message}};
    item.update(shown.json);
    list.push_back(std::move(item));
  }
  return list;
}

void PrintFindings(const std::string& where, const std::vector<DocumentFinding>& findings) {
  for (const DocumentFinding& f : findings) {
    const Finding shown = ShownFinding(f);
    std::fprintf(stderr, "nametree: %s: the edit makes lint report: %s: %s\n", where.c_str(),
                 shown.warning ? "warning" : "error", shown.message.c_str());
  }
}

int RunSingleEdit(const Args& args) {
  EditResult r;
  const std::optional<Edit> edit = ParseEdit(args.WithoutFirst(), &r);
  if (!edit) return args.UsageError(r.text);
  if (args.Has("strict") && args.Has("no-edit-check"))
    return args.UsageError("--strict needs the edit check that --no-edit-check skips");
  Document doc = Document::InMemory();
  if (int rc = OpenForEdit(doc, args)) return rc;
  std::vector<PostedNotification> posted;
  doc.Notifications().Subscribe([&posted](const CNotification& n) { posted.push_back({n.Name(), *n.Payload()}); });
  // A new container holds no names, so lint can say nothing new of it.
  // mutate: delete-unchecked
  const bool judged = edit->op != Edit::Op::kAddContainer && !args.Has("no-edit-check");
  std::optional<EditCheck> check;
  if (judged) check.emplace(doc.Server(), DocumentCheckOptions{});
  EditContext context{doc.Server()};
  context.doc = &doc;
  context.check = check ? &*check : nullptr;
  context.strict = args.Has("strict");
  r = ApplyEdit(context, *edit);
  if (r.exit == kExitError) return args.UsageError(r.text);
  if (r.exit != kExitOk) {
    const bool strict = !r.findings.empty();
    if (strict && !args.Has("json")) PrintFindings(doc.Path().string(), r.findings);
    // mutate: refusal-kind-missing
    args.Report().Error(doc.Path().string(), r.text + " (" + StatusName(r.hr) + ")", r.hr, "refused",
                        strict ? Json{{"findings", FindingsJson(r.findings)}} : Json::object());
    return r.exit;
  }
  if (int rc = SaveDocument(args.Report(), doc)) return rc;
  if (args.Has("json")) {
    Json notifications = Json::array();
    for (const PostedNotification& n : posted) notifications.push_back(NotificationJson(n));
    r.json["notifications"] = std::move(notifications);
    if (!r.findings.empty()) r.json["findings"] = FindingsJson(r.findings);
    PrintJson(r.json);
    return kExitOk;
  }
  std::printf("%s\n", r.text.c_str());
  for (const PostedNotification& n : posted) std::printf("  notified %s\n", DescribeNotification(n).c_str());
  PrintFindings(doc.Path().string(), r.findings);
  return kExitOk;
}

constexpr OptionSpec kKeywords{"keywords", "FILE",
                               "reserved words, UTF-8, one per line, that no name may repeat; may be repeated; "
                               "- reads standard input",
                               true};
constexpr OptionSpec kJson{"json", "", "report as JSON (errors too, on stdout)"};
constexpr OptionSpec kStrict{"strict", "",
                             "refuse the edit when lint would then report something it does not report now "
                             "(an error or a warning)"};
constexpr OptionSpec kAs{"as", "LABEL", "later lines may write @LABEL for the ID this line makes"};
constexpr OptionSpec kAsStored{"as", "LABEL",
                               "label the new container (kept in the document); later lines write @LABEL for it"};
constexpr OptionSpec kRef{"ref", "NAME", "later lines of this batch write @NAME for the new container; not kept"};
constexpr OptionSpec kLabel{"label", "LABEL", "label the new container; commands take @LABEL for its ID"};
constexpr PositionalSpec kFile{"FILE", "the document"};

}  // namespace

std::vector<CommandSpec> EditCommandSpecs(bool batchLine) {
  std::vector<CommandSpec> specs = {
      {"add", "add a name to a container",
       "NAME (UTF-8) is checked against the name rules and, unless --no-check, against every\n"
       "namespace the container must not collide with. Prints the new name's ID. A document\n"
       "whose stored last issued ID is below an ID it holds is refused: run 'nametree repair'.",
       {{"CONTAINER", "the container's ID"}, {"NAME", "the name"}},
       {kKindOption, {"no-check", "", "skip the duplicate check"}, kConfineOption},
       RunSingleEdit},
      {"rename", "give a name a new text",
       "Gives the name with this ID a new text; the ID stays. Prints the \"NameChanged\"\n"
       "notification that the library posts.",
       {{"ID", "the name's ID"}, {"NEWNAME", "its new text"}},
       {kKindOption, kConfineOption},
       RunSingleEdit},
      {"delete", "delete a name (or a container)",
       "Deletes the name with this ID and prints the \"NameWasDeleted\" notification. With\n"
       "--container, says how many sub-containers and names went (--dry-run says it first).",
       {{"ID", "the name's ID"}},
       {{"container", "",
         "ID is a container: delete it with its names and sub-containers (\"ContainerWasDeleted\")"}},
       RunSingleEdit},
      {"add-container", "add a container",
       "PARENT 0 adds a top-level container. Prints the new container's ID.",
       {{"PARENT", "the parent's ID, 0 for the top level"}},
       {{"type", "T", "global (2), target (3), own (4), plain (0, the default), or any number from -32768 to 32767",
         false, ContainerTypeWords}},
       RunSingleEdit},
  };
  for (CommandSpec& entry : specs) {
    if (batchLine) {
      if (entry.name == "add") entry.options.push_back(kAs);
      if (entry.name == "add-container") entry.options.insert(entry.options.end(), {kAsStored, kRef});
    } else {
      if (entry.name == "add-container") entry.options.push_back(kLabel);
      entry.positionals.insert(entry.positionals.begin(), kFile);
      if (entry.name == "add" || entry.name == "rename")
        entry.options.insert(entry.options.end(), {kKeywords, kKeywordSetOption, kStrict});
      if (entry.name == "delete") entry.options.push_back(kStrict);
      if (entry.name != "add-container") entry.options.push_back(kNoEditCheckOption);
      entry.options.push_back(kWaitOption);
      entry.options.push_back(kForceOption);
      entry.options.push_back(kDryRunOption);
      entry.options.push_back(kJson);
    }
  }
  if (batchLine)
    specs.push_back({"keyword", "reserve a word (or a built-in set) for the rest of the batch", "",
                     {{"WORD", "the keyword", false}},
                     {{"set", "NAME", "the words of a built-in set instead", false, KeywordSetNameList}},
                     RunSingleEdit});
  return specs;
}

void AddEditCommands(std::vector<CommandSpec>& table) {
  for (CommandSpec& entry : EditCommandSpecs(false)) table.push_back(std::move(entry));
}

}  // namespace nametree::cli
