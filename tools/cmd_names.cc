// Read-only questions about names: next (a fresh proposal that add will
// take) and check (would this name be accepted, and if not, where does it
// collide).
#include <cstdio>
#include <optional>

#include "args.h"
#include "cli.h"
#include "container_arg.h"
#include "document.h"
#include "keywords.h"
#include "nametree/utf8.h"
#include "output.h"

namespace nametree::cli {

namespace {

struct NameQuery {
  std::uint32_t container = 0;
  CString name;
  std::uint32_t kind = kOrdinaryName;
};

// CONTAINER and NAME (positions 1 and 2) and --kind; false after a usage error.
bool ParseQuery(const Args& args, NameQuery* q) {
  std::optional<std::uint32_t> container = IsLabelArg(args.At(1)) ? 0 : ParseUnsigned(args.At(1));
  if (!container) {
    args.UsageError("CONTAINER must be a number or @LABEL, not \"" + args.At(1) + "\"");
    return false;
  }
  std::optional<CString> name = ParseName(args.At(2));
  if (!name) {
    args.UsageError("\"" + args.At(2) + "\" is not valid UTF-8");
    return false;
  }
  if (const std::string* text = args.Value("kind")) {
    std::optional<std::uint32_t> kind = ParseUnsigned(*text);
    if (!kind) {
      args.UsageError("--kind must be a number, not \"" + *text + "\"");
      return false;
    }
    q->kind = *kind;
  }
  q->container = *container;
  q->name = std::move(*name);
  return true;
}

// CONTAINER given as @LABEL, once the document is open; false after a usage error.
// Opens the document for reading, resolves an @LABEL container and applies
// the keywords: what next and check both need before they ask.
int OpenForQuery(const Args& args, Document& doc, NameQuery* q) {
  if (int rc = OpenDocument(args.Report(), doc, args.At(0), false)) return rc;
  if (IsLabelArg(args.At(1))) {
    std::string error;
    const std::optional<std::uint32_t> id = ContainerArg(doc, args.At(1), "CONTAINER", &error);
    if (!id) return args.UsageError(error);
    q->container = *id;
  }
  return LoadKeywords(args, doc.Server());
}

std::string ContainerWords(const CNameServer& server, std::uint32_t id) {
  const CNameContainer* c = server.GetContainer(id);
  if (!c) return "container " + std::to_string(id) + " (does not exist)";
  return "container " + std::to_string(id) + " (" + ContainerTypeName(c->GetContainerType()) + ")";
}

int RunNext(const Args& args) {
  NameQuery q;
  if (!ParseQuery(args, &q)) return kExitError;
  int digits = 0;
  if (const std::string* text = args.Value("digits")) {
    std::optional<std::uint32_t> n = ParseUnsigned(*text);
    if (!n || *n > static_cast<std::uint32_t>(kMaxNameLength))
      return args.UsageError("--digits must be a number from 0 to 32, not \"" + *text + "\"");
    digits = static_cast<int>(*n);
  }
  const bool local = args.Has("local");
  const bool confine = args.Has("confine");
  Document doc = Document::InMemory();
  if (int rc = OpenForQuery(args, doc, &q)) return rc;
  CNameServer& server = doc.Server();
  CString proposal;
  const HRESULT hr = local ? server.GetNextName(q.container, q.name, digits, &proposal)
                           : server.GetNextAcceptedName(q.container, q.name, digits, q.kind, confine, &proposal);
  if (hr != S_OK) {
    std::string why;
    if (!server.GetContainer(q.container))
      why = "no container has ID " + std::to_string(q.container);
    else if (hr == E_FAIL)
      why = "the container holds " + std::to_string(kMaxEntriesPerTable) + " names, the most a saved document allows";
    else if (hr == E_NAME_INVALID)
      why = "no number makes a valid name of it: " + DescribeInvalidName(server, proposal.empty() ? q.name : proposal, q.kind);
    else
      why = Quoted(q.name) + " leaves no letters or digits to build a name from";
    args.Report().Error(args.At(0), "no proposal for " + Quoted(q.name) + ": " + why, hr == S_OK ? E_FAIL : hr, "refused");
    return kExitRefused;
  }
  if (args.Has("json")) {
    Json json;
    json["container"] = q.container;
    json["base"] = JsonText(q.name);
    json["digits"] = digits;
    json["proposal"] = JsonText(proposal);
    PrintJson(json);
  } else {
    std::printf("%s\n", Display(proposal).c_str());
  }
  if (!local) return kExitOk;
  // The proposal is free in the container itself; say so when add would still refuse it.
  CDuplicateHit hit;
  if (!server.IsValidName(proposal, q.kind))
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(proposal).c_str(),
                 DescribeInvalidName(server, proposal, q.kind).c_str());
  else if (server.FindDuplicate(q.container, proposal, confine, &hit))
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(proposal).c_str(), DescribeDuplicate(hit).c_str());
  return kExitOk;
}

int RunCheck(const Args& args) {
  NameQuery q;
  if (!ParseQuery(args, &q)) return kExitError;
  const bool confine = args.Has("confine");
  Document doc = Document::InMemory();
  if (int rc = OpenForQuery(args, doc, &q)) return rc;
  CNameServer& server = doc.Server();

  const bool valid = server.IsValidName(q.name, q.kind);
  CDuplicateHit hit;
  const bool duplicate = server.FindDuplicate(q.container, q.name, confine, &hit);
  // The verdict is the library's own: the add is tried on the loaded copy, which is never saved.
  std::uint32_t unused = 0;
  const HRESULT verdict = server.AddName(unused, q.container, q.name, q.kind, true, confine);
  const bool exists = server.GetContainer(q.container) != nullptr;

  if (args.Has("json")) {
    Json json;
    json["container"] = q.container;
    json["containerExists"] = exists;
    json["name"] = JsonText(q.name);
    json["valid"] = valid;
    json["duplicate"] = nullptr;
    if (duplicate)
      json["duplicate"] = {{"namespace", DuplicateNamespace(hit.where)}, {"container", hit.containerID}, {"id", hit.nameID}};
    json["result"] = StatusName(verdict);
    PrintJson(json);
  } else {
    std::printf("%s in %s\n", Quoted(q.name).c_str(), ContainerWords(server, q.container).c_str());
    std::printf("  valid:      %s\n",
                valid ? "yes" : ("no, " + DescribeInvalidName(server, q.name, q.kind)).c_str());
    std::printf("  duplicate:  %s\n", duplicate ? ("yes, " + DescribeDuplicate(hit)).c_str() : "no");
    std::printf("  add:        %s\n", verdict == S_OK ? "would be accepted"
                                                      : ("would be refused with " +
                                                         StatusName(verdict)).c_str());
  }
  return verdict == S_OK ? kExitOk : kExitRefused;
}

}  // namespace

void AddNameCommands(std::vector<CommandSpec>& table) {
  const OptionSpec keywords{"keywords", "FILE", "reserved words, UTF-8, one per line; may be repeated; - reads "
                                                "standard input", true};
  const OptionSpec json{"json", "", "report as JSON (errors too, on stdout)"};
  const OptionSpec keywordSet = kKeywordSetOption;
  const std::vector<PositionalSpec> positionals = {{"FILE", "the document"}, {"CONTAINER", "the container's ID"}};
  std::vector<PositionalSpec> next = positionals, check = positionals;
  next.push_back({"BASE", "the base name; characters other than letters and digits are dropped"});
  check.push_back({"NAME", "the name to judge"});
  table.push_back({"next", "propose a fresh name that add will accept",
                   "Proposes BASE followed by a number (Pump1, or Pump001 with --digits 3) that 'nametree add'\n"
                   "with the same --kind and --confine accepts: valid, no keyword, and free in every\n"
                   "namespace the container must stay apart from. Exit 1 with the reason where no number\n"
                   "can pass (a base beginning with a digit under kind 0). Counters are not stored with\n"
                   "the document, so each run starts at 1. Nothing is added.",
                   next,
                   {{"digits", "N", "at least N digits, with leading zeros (0 to 32; default 0)"}, kKindOption, kConfineOption,
                    {"local", "", "look at the container's own names alone, as the library's GetNextName does"},
                    keywords, keywordSet, json},
                   RunNext});
  table.push_back({"check", "explain whether a name would be accepted",
                   "Tells whether NAME is valid, whether it collides with a name the container must stay\n"
                   "apart from (a keyword, the container itself, its own tree, the global or a target\n"
                   "namespace) and where, and whether 'nametree add' would accept it. Exit code 0 when it\n"
                   "would, 1 when it would not. The file is not changed.",
                   check, {kKindOption, keywords, keywordSet, kConfineOption, json}, RunCheck});
}

}  // namespace nametree::cli
