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
  for (const DocumentFinding& f : findings) list.push_back(FindingJson(f));
  return list;
}

void PrintFindings(const std::string& where, const std::vector<DocumentFinding>& findings) {
  for (const DocumentFinding& f : findings)
    std::fprintf(stderr, "nametree: %s: the edit makes lint report: %s: %s\n", where.c_str(),
                 f.warning ? "warning" : "error", DescribeFinding(f).c_str());
}

struct EditOptions : WriteFlags, KeywordFlags {
  std::string file;
  Edit edit;
  bool strict = false;
  bool noEditCheck = false;
  bool json = false;
};

int RunSingleEdit(const EditOptions& o, const Context& context) {
  const Edit* edit = &o.edit;
  EditResult r;
  Document doc = Document::InMemory();
  if (int rc = OpenForEdit(doc, context, o.file, o, o)) return rc;
  std::vector<PostedNotification> posted;
  doc.Notifications().Subscribe([&posted](const CNotification& n) { posted.push_back({n.Name(), *n.Payload()}); });
  // A new container holds no names, so lint can say nothing new of it.
  // mutate: delete-unchecked
  const bool judged = edit->op != Edit::Op::kAddContainer && !o.noEditCheck;
  // Judged by the document's own rule, as its lint and batch judge it.
  if (judged) doc.JudgeEdits(doc.CheckOptions(), o.strict);
  EditContext edits{doc};
  r = ApplyEdit(edits, *edit);
  if (r.exit == kExitError && !r.notFound) return context.UsageError(r.text);
  if (r.exit != kExitOk) {
    const bool strict = !r.findings.empty();
    if (strict && !o.json) PrintFindings(doc.Path().string(), r.findings);
    // mutate: refusal-kind-missing
    const std::string_view kind = r.notFound ? "not-found" : "refused";
    context.Report().Error(doc.Path().string(), r.text + " (" + StatusName(r.hr) + ")", r.hr, kind,
                           strict ? Json{{"findings", FindingsJson(r.findings)}} : Json::object());
    return r.exit;
  }
  if (int rc = SaveDocument(context.Report(), doc)) return rc;
  if (o.json) {
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
constexpr OptionSpec kStrict{"strict", "",
                             "refuse the edit when lint would then report something it does not report now "
                             "(an error or a warning)"};
constexpr OptionSpec kAs{"as", "LABEL", "later lines may write @LABEL for the ID this line makes"};
constexpr OptionSpec kAsStored{"as", "LABEL",
                               "label the new container (kept in the document); later lines write @LABEL for it"};
constexpr OptionSpec kRef{"ref", "NAME", "later lines of this batch write @NAME for the new container; not kept"};
constexpr OptionSpec kLabel{"label", "LABEL", "label the new container; commands take @LABEL for its ID"};
constexpr PositionalSpec kFile{"FILE", "the document"};

Edit EditOf(Edit::Op op) {
  Edit edit;
  edit.op = op;
  return edit;
}

std::string Flag(const Words& w, bool* flag) {
  *flag = !w.empty();
  return {};
}

}  // namespace

std::vector<EditLine> EditLines(bool batchLine) {
  using Op = Edit::Op;
  const Setter<Edit> noCheck = [](Edit& e, const Words& w) {
    e.check = w.empty();
    return std::string();
  };
  const Setter<Edit> confine = [](Edit& e, const Words& w) { return Flag(w, &e.confine); };
  const Setter<Edit> container = [](Edit& e, const Words& w) { return Flag(w, &e.container); };
  // A label kept in the document (add-container), or one for this batch alone.
  const auto label = [](bool stored) -> Setter<Edit> {
    return [stored](Edit& e, const Words& w) {
      if (!w.empty()) e.label = w.back(), e.storeLabel = stored;
      return std::string();
    };
  };
  std::vector<EditLine> lines = {
      {"add", "add a name to a container",
       "NAME (UTF-8) is checked against the name rules and, unless --no-check, against every\n"
       "namespace the container must not collide with. Prints the new name's ID. A document\n"
       "whose stored last issued ID is below an ID it holds is refused: run 'nametree repair'.",
       Binder<Edit>(EditOf(Op::kAdd))
           .Arg({"CONTAINER", "the container's ID"}, SetEditId)
           .Arg({"NAME", "the name"}, SetEditName)
           .Opt(kKindOption, SetEditKind)
           .Opt({"no-check", "", "skip the duplicate check"}, noCheck)
           .Opt(kConfineOption, confine)},
      {"rename", "give a name a new text",
       "Gives the name with this ID a new text; the ID stays. Prints the \"NameChanged\"\n"
       "notification that the library posts.",
       Binder<Edit>(EditOf(Op::kRename))
           .Arg({"ID", "the name's ID"}, SetEditId)
           .Arg({"NEWNAME", "its new text"}, SetEditName)
           .Opt(kKindOption, SetEditKind)
           .Opt(kConfineOption, confine)},
      {"delete", "delete a name (or a container)",
       "Deletes the name with this ID and prints the \"NameWasDeleted\" notification. With\n"
       "--container, says how many sub-containers and names went (--dry-run says it first).",
       Binder<Edit>(EditOf(Op::kDelete))
           .Arg({"ID", "the name's ID"}, SetEditId)
           .Opt({"container", "", "ID is a container: delete it with its names and sub-containers (\"ContainerWasDeleted\")"},
                container)},
      {"add-container", "add a container", "PARENT 0 adds a top-level container. Prints the new container's ID.",
       Binder<Edit>(EditOf(Op::kAddContainer))
           .Arg({"PARENT", "the parent's ID, 0 for the top level"}, SetEditId)
           .Opt({"type", "T", "global (2), target (3), own (4), plain (0, the default), or any number from -32768 to 32767",
                 false, ContainerTypeWords},
                SetEditType)},
  };
  if (!batchLine) {
    lines.back().binder.Opt(kLabel, label(true));
    return lines;
  }
  lines[0].binder.Opt(kAs, label(false));
  // mutate: label-as-not-kept
  lines.back().binder.Opt(kAsStored, label(true)).Opt(kRef, [](Edit& e, const Words& w) {
    if (w.empty()) return std::string();
    if (e.storeLabel) return std::string("a line takes --as or --ref, not both");
    e.label = w.back();
    return std::string();
  });
  lines.push_back({"keyword", "reserve a word (or a built-in set) for the rest of the batch", "",
                   Binder<Edit>(EditOf(Op::kKeyword))
                       .Arg({"WORD", "the keyword", false}, SetKeywordWord)
                       .Opt({"set", "NAME", "the words of a built-in set instead", false, KeywordSetNameList}, SetKeywordSet)
                       .Check(CheckKeywordLine)});
  return lines;
}

void AddEditCommands(std::vector<CommandSpec>& table) {
  using O = EditOptions;
  for (const EditLine& line : EditLines(false)) {
    Binder<O> b;
    b.Arg(kFile, &O::file).Nest(line.binder, &O::edit);
    if (line.name == "add" || line.name == "rename") b.KeywordFiles(kKeywords).KeywordSets().Opt(kStrict, &O::strict);
    if (line.name == "delete") b.Opt(kStrict, &O::strict);
    if (line.name != "add-container") b.Opt(kNoEditCheckOption, &O::noEditCheck);
    b.Write().Opt(kJsonOption, &O::json).Check([](const O& o) {
      return o.strict && o.noEditCheck ? "--strict needs the edit check that --no-edit-check skips" : "";
    });
    table.push_back(b.Command(line.name, line.summary, line.details, RunSingleEdit));
  }
}

}  // namespace nametree::cli
