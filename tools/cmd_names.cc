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
#include "nametree/refusal_text.h"
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

std::string ContainerWords(const Document& doc, std::uint32_t id) {
  const Result<ContainerRef> c = doc.Container(id);
  return "container " + std::to_string(id) + " (" + (c ? std::string(ContainerTypeName(c->Type())) : "does not exist") +
         ")";
}

// Why no proposal was made, as the program has always worded it.
int RefuseProposal(const Context& context, const std::string& file, const CString& base, std::uint32_t kind,
                   const nametree::Error& error) {
  const std::string what = "no proposal for " + Quoted(base) + ": ";
  if (error.kind() == ErrorKind::kNotFound) {
    context.Report().Error(file, what + std::string(error.reason()), error.status(), "not-found");
    return kExitError;
  }
  std::string why;
  if (error.kind() == ErrorKind::kFull)
    why = DescribeNameRefusal(error.refusal(), 0, base, kind);
  else if (error.kind() == ErrorKind::kInvalidName)
    why = "no number makes a valid name of it: " + DescribeRuleViolation(base, kind, error.refusal().rule);
  else
    why = Quoted(base) + " leaves no letters or digits to build a name from";
  context.Report().Error(file, what + why, error.status(), "refused");
  return kExitRefused;
}

int RunNext(const NextOptions& o, const Context& context) {
  const CString& base = o.name.value;
  Document doc = Document::InMemory();
  std::uint32_t container = 0;
  if (int rc = OpenForQuery(o, context, doc, &container)) return rc;
  Document::Proposal how;
  how.digits = static_cast<int>(o.digits.value);
  how.kind = o.kind.value;
  how.confine = o.confine;
  how.ownNamesOnly = o.local;
  const Result<std::u16string> proposal = doc.NextName(container, base, how);
  if (!proposal) return RefuseProposal(context, o.file, base, how.kind, proposal.error());
  if (o.json) {
    Json json;
    json["container"] = container;
    json["base"] = JsonText(base);
    json["digits"] = how.digits;
    json["proposal"] = JsonText(*proposal);
    PrintJson(json);
  } else {
    std::printf("%s\n", Display(*proposal).c_str());
  }
  if (!o.local) return kExitOk;
  // The proposal is free in the container itself; say so when add would still refuse it.
  Document::EditOptions check;
  check.confine = o.confine;
  const Result<NameVerdict> add = doc.Check(container, *proposal, how.kind, check);
  const CNameRefusal::Reason reason = add ? add->refusal.reason : CNameRefusal::Reason::kNone;
  if (reason == CNameRefusal::Reason::kInvalidName)
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(*proposal).c_str(),
                 DescribeRuleViolation(*proposal, how.kind, add->refusal.rule).c_str());
  else if (reason == CNameRefusal::Reason::kDuplicate || reason == CNameRefusal::Reason::kKeyword)
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(*proposal).c_str(), add->reason.c_str());
  return kExitOk;
}

int RunCheck(const NameQuery& q, const Context& context) {
  const CString& name = q.name.value;
  const std::uint32_t kind = q.kind.value;
  Document doc = Document::InMemory();
  std::uint32_t container = 0;
  if (int rc = OpenForQuery(q, context, doc, &container)) return rc;

  CNameRuleViolation broken;
  const bool valid = doc.IsValidName(name, kind, &broken);
  const std::optional<CDuplicateHit> duplicate = doc.Collision(container, name, q.confine);
  Document::EditOptions how;
  how.confine = q.confine;
  const Result<NameVerdict> add = doc.Check(container, name, kind, how);
  const bool accepted = add && add->accepted;
  const std::string result = add ? StatusName(add->status) : std::string(add.error().code());

  if (q.json) {
    Json json;
    json["container"] = container;
    json["containerExists"] = doc.IsContainer(container);
    json["name"] = JsonText(name);
    json["valid"] = valid;
    json["duplicate"] = nullptr;
    if (duplicate)
      json["duplicate"] = {{"namespace", DuplicateNamespace(duplicate->where)},
                           {"container", duplicate->containerID},
                           {"id", duplicate->nameID}};
    json["result"] = result;
    PrintJson(json);
  } else {
    std::printf("%s in %s\n", Quoted(name).c_str(), ContainerWords(doc, container).c_str());
    std::printf("  valid:      %s\n", valid ? "yes" : ("no, " + DescribeRuleViolation(name, kind, broken)).c_str());
    std::printf("  duplicate:  %s\n", duplicate ? ("yes, " + DescribeDuplicate(*duplicate)).c_str() : "no");
    std::printf("  add:        %s\n", accepted ? "would be accepted" : ("would be refused with " + result).c_str());
  }
  return accepted ? kExitOk : kExitRefused;
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
