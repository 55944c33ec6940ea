// Read-only questions about names: next (a fresh proposal that add will
// take) and check (would this name be accepted, and if not, where does it
// collide).
#include <cstdio>
#include <optional>

#include "args.h"
#include "bound.h"
#include "cli.h"
#include "container_arg.h"
#include "document.h"
#include "keywords.h"
#include "nametree/utf8.h"
#include "output.h"

namespace nametree::cli {

namespace {

// What next and check both take: the document, CONTAINER, the text, and
// the options that decide what an add would be judged by.
struct NameQuery : KeywordFlags {
  std::string file;
  ContainerWord container;
  NameText name;
  Kind kind;
  bool confine = false;
  bool json = false;
};

struct NextOptions : NameQuery {
  Bounded<0, kMaxNameLength> digits;
  bool local = false;
};

// Opens the document for reading, resolves an @LABEL container and applies
// the keywords: what next and check both need before they ask.
int OpenForQuery(const NameQuery& q, const Context& context, Document& doc, std::uint32_t* container) {
  if (int rc = OpenDocument(context.Report(), doc, q.file, false)) return rc;
  ContainerWord word = q.container;
  std::string error;
  if (!ResolveLabel(doc, "CONTAINER", &word, &error)) return context.UsageError(error);
  *container = word.id;
  return LoadKeywords(q, context, doc);
}

std::string ContainerWords(const CNameServer& server, std::uint32_t id) {
  const CNameContainer* c = server.GetContainer(id);
  if (!c) return "container " + std::to_string(id) + " (does not exist)";
  return "container " + std::to_string(id) + " (" + ContainerTypeName(c->GetContainerType()) + ")";
}

int RunNext(const NextOptions& o, const Context& context) {
  const int digits = static_cast<int>(o.digits.value);
  const std::uint32_t kind = o.kind.value;
  const CString& base = o.name.value;
  Document doc = Document::InMemory();
  std::uint32_t container = 0;
  if (int rc = OpenForQuery(o, context, doc, &container)) return rc;
  CNameServer& server = doc.Server();
  CString proposal;
  const HRESULT hr = o.local ? server.GetNextName(container, base, digits, &proposal)
                             : server.GetNextAcceptedName(container, base, digits, kind, o.confine, &proposal);
  if (const Result<ContainerRef> held = doc.Container(container); hr != S_OK && !held) {
    context.Report().Error(o.file, "no proposal for " + Quoted(base) + ": " + std::string(held.error().reason()), hr,
                           "not-found");
    return kExitError;
  }
  if (hr != S_OK) {
    std::string why;
    if (hr == E_FAIL)
      why = "the container holds " + std::to_string(kMaxEntriesPerTable) + " names, the most a saved document allows";
    else if (hr == E_NAME_INVALID)
      why = "no number makes a valid name of it: " + DescribeInvalidName(server, proposal.empty() ? base : proposal, kind);
    else
      why = Quoted(base) + " leaves no letters or digits to build a name from";
    context.Report().Error(o.file, "no proposal for " + Quoted(base) + ": " + why, hr == S_OK ? E_FAIL : hr, "refused");
    return kExitRefused;
  }
  if (o.json) {
    Json json;
    json["container"] = container;
    json["base"] = JsonText(base);
    json["digits"] = digits;
    json["proposal"] = JsonText(proposal);
    PrintJson(json);
  } else {
    std::printf("%s\n", Display(proposal).c_str());
  }
  if (!o.local) return kExitOk;
  // The proposal is free in the container itself; say so when add would still refuse it.
  CDuplicateHit hit;
  if (!server.IsValidName(proposal, kind))
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(proposal).c_str(),
                 DescribeInvalidName(server, proposal, kind).c_str());
  else if (server.FindDuplicate(container, proposal, o.confine, &hit))
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(proposal).c_str(), DescribeDuplicate(hit).c_str());
  return kExitOk;
}

int RunCheck(const NameQuery& q, const Context& context) {
  const CString& name = q.name.value;
  const std::uint32_t kind = q.kind.value;
  Document doc = Document::InMemory();
  std::uint32_t container = 0;
  if (int rc = OpenForQuery(q, context, doc, &container)) return rc;
  CNameServer& server = doc.Server();

  const bool valid = server.IsValidName(name, kind);
  CDuplicateHit hit;
  const bool duplicate = server.FindDuplicate(container, name, q.confine, &hit);
  // The verdict is the library's own: the add is tried on the loaded copy, which is never saved.
  std::uint32_t unused = 0;
  const HRESULT verdict = server.AddName(unused, container, name, kind, true, q.confine);
  const bool exists = server.GetContainer(container) != nullptr;

  if (q.json) {
    Json json;
    json["container"] = container;
    json["containerExists"] = exists;
    json["name"] = JsonText(name);
    json["valid"] = valid;
    json["duplicate"] = nullptr;
    if (duplicate)
      json["duplicate"] = {{"namespace", DuplicateNamespace(hit.where)}, {"container", hit.containerID}, {"id", hit.nameID}};
    json["result"] = StatusName(verdict);
    PrintJson(json);
  } else {
    std::printf("%s in %s\n", Quoted(name).c_str(), ContainerWords(server, container).c_str());
    std::printf("  valid:      %s\n",
                valid ? "yes" : ("no, " + DescribeInvalidName(server, name, kind)).c_str());
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
  const PositionalSpec file{"FILE", "the document"}, container{"CONTAINER", "the container's ID"};
  table.push_back(
      Binder<NextOptions>()
          .Arg(file, &NextOptions::file)
          .Arg(container, &NextOptions::container)
          .Arg({"BASE", "the base name; characters other than letters and digits are dropped"}, &NextOptions::name)
          .Opt({"digits", "N", "at least N digits, with leading zeros (0 to 32; default 0)"}, &NextOptions::digits)
          .Opt(kKindOption, &NextOptions::kind)
          .Opt(kConfineOption, &NextOptions::confine)
          .Opt({"local", "", "look at the container's own names alone, as the library's GetNextName does"},
               &NextOptions::local)
          .KeywordFiles(keywords)
          .KeywordSets()
          .Opt(kJsonOption, &NextOptions::json)
          .Command("next", "propose a fresh name that add will accept",
                   "Proposes BASE followed by a number (Pump1, or Pump001 with --digits 3) that 'nametree add'\n"
                   "with the same --kind and --confine accepts: valid, no keyword, and free in every\n"
                   "namespace the container must stay apart from. Exit 1 with the reason where no number\n"
                   "can pass (a base beginning with a digit under kind 0). Counters are not stored with\n"
                   "the document, so each run starts at 1. Nothing is added.",
                   RunNext));
  table.push_back(Binder<NameQuery>()
                      .Arg(file, &NameQuery::file)
                      .Arg(container, &NameQuery::container)
                      .Arg({"NAME", "the name to judge"}, &NameQuery::name)
                      .Opt(kKindOption, &NameQuery::kind)
                      .KeywordFiles(keywords)
                      .KeywordSets()
                      .Opt(kConfineOption, &NameQuery::confine)
                      .Opt(kJsonOption, &NameQuery::json)
                      .Command("check", "explain whether a name would be accepted",
                               "Tells whether NAME is valid, whether it collides with a name the container must stay\n"
                               "apart from (a keyword, the container itself, its own tree, the global or a target\n"
                               "namespace) and where, and whether 'nametree add' would accept it. Exit code 0 when it\n"
                               "would, 1 when it would not. The file is not changed.",
                               RunCheck));
}

}  // namespace nametree::cli
