// Read-only questions about names: next (a fresh proposal) and check (would
// this name be accepted, and if not, where does it collide).
#include <cstdio>
#include <optional>

#include "args.h"
#include "cli.h"
#include "document.h"
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
  std::optional<std::uint32_t> container = ParseUnsigned(args.At(1));
  if (!container) {
    args.UsageError("CONTAINER must be a number, not \"" + args.At(1) + "\"");
    return false;
  }
  std::optional<CString> name = ParseUtf8(args.At(2));
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

std::string ContainerWords(const CNameServer& server, std::uint32_t id) {
  const CNameContainer* c = server.GetContainer(id);
  if (!c) return "container " + std::to_string(id) + " (does not exist)";
  return "container " + std::to_string(id) + " (" + TypeLabel(c->GetContainerType()) + ")";
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
  Document doc;
  if (int rc = doc.Open(args.At(0), false)) return rc;
  if (int rc = LoadKeywords(args, doc.Server())) return rc;
  CNameServer& server = doc.Server();
  CString proposal;
  if (server.GetNextName(q.container, q.name, digits, &proposal) != S_OK) {
    const std::string why = server.GetContainer(q.container)
                                ? Quoted(q.name) + " leaves no letters or digits to build a name from"
                                : "no container has ID " + std::to_string(q.container);
    ReportFile(args.At(0), "no proposal for " + Quoted(q.name) + ": " + why);
    return kExitRefused;
  }
  if (args.Has("json")) {
    JsonWriter json;
    json.BeginObject();
    json.Member("container", q.container);
    json.Member("base", q.name);
    json.Member("digits", digits);
    json.Member("proposal", proposal);
    json.EndObject();
    json.Print();
  } else {
    std::printf("%s\n", ToUtf8(proposal).c_str());
  }
  // The proposal is free in the container itself; say so when add would still refuse it.
  CDuplicateHit hit;
  if (!server.IsValidName(proposal, q.kind))
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(proposal).c_str(),
                 DescribeInvalidName(proposal, q.kind).c_str());
  else if (server.FindDuplicate(q.container, proposal, false, &hit))
    std::fprintf(stderr, "note: add would refuse %s: %s\n", Quoted(proposal).c_str(),
                 DescribeDuplicate(hit).c_str());
  return kExitOk;
}

int RunCheck(const Args& args) {
  NameQuery q;
  if (!ParseQuery(args, &q)) return kExitError;
  const bool confine = args.Has("confine");
  Document doc;
  if (int rc = doc.Open(args.At(0), false)) return rc;
  if (int rc = LoadKeywords(args, doc.Server())) return rc;
  CNameServer& server = doc.Server();

  const bool valid = server.IsValidName(q.name, q.kind);
  CDuplicateHit hit;
  const bool duplicate = server.FindDuplicate(q.container, q.name, confine, &hit);
  // The verdict is the library's own: the add is tried on the loaded copy, which is never saved.
  std::uint32_t unused = 0;
  const HRESULT verdict = server.AddName(unused, q.container, q.name, q.kind, true, confine);
  const bool exists = server.GetContainer(q.container) != nullptr;

  if (args.Has("json")) {
    JsonWriter json;
    json.BeginObject();
    json.Member("container", q.container);
    json.MemberBool("containerExists", exists);
    json.Member("name", q.name);
    json.MemberBool("valid", valid);
    json.Key("duplicate");
    if (duplicate) {
      json.BeginObject();
      json.MemberUtf8("namespace", DuplicateNamespace(hit.where));
      json.Member("container", hit.containerID);
      json.Member("id", hit.nameID);
      json.EndObject();
    } else {
      json.Null();
    }
    json.MemberUtf8("result", StatusName(verdict));
    json.EndObject();
    json.Print();
  } else {
    std::printf("%s in %s\n", Quoted(q.name).c_str(), ContainerWords(server, q.container).c_str());
    std::printf("  valid:      %s\n",
                valid ? "yes" : ("no, " + DescribeInvalidName(q.name, q.kind)).c_str());
    std::printf("  duplicate:  %s\n", duplicate ? ("yes, " + DescribeDuplicate(hit)).c_str() : "no");
    std::printf("  add:        %s\n", verdict == S_OK ? "would be accepted"
                                                      : ("would be refused with " +
                                                         StatusName(verdict)).c_str());
  }
  return verdict == S_OK ? kExitOk : kExitRefused;
}

constexpr std::string_view kCheckOptions =
    "  --kind N         name kind; 1 lets a name begin with \"_\" (default 0)\n"
    "  --keywords FILE  reserved words, UTF-8, one per line\n";

}  // namespace

void AddNameCommands(std::vector<CommandSpec>& table) {
  static const std::string nextDetails =
      "Proposes BASE followed by a number (Pump1, or Pump001 with --digits 3) that no\n"
      "name of the container has yet. Counters are not stored with the document, so\n"
      "each run starts at 1 and skips the numbers already taken. Nothing is added.\n\n"
      "  --digits N       at least N digits, with leading zeros (0 to 32; default 0)\n" +
      std::string(kCheckOptions) + "  --json           report as JSON\n";
  static const std::string checkDetails =
      "Tells whether NAME is valid, whether it collides with a name the container must\n"
      "stay apart from (a keyword, the container itself, its own tree, the global or a\n"
      "target namespace) and where, and whether 'nametree add' would accept it.\n"
      "Exit code 0 when it would, 1 when it would not. The file is not changed.\n\n" +
      std::string(kCheckOptions) +
      "  --confine        an \"own\" container (type 4) checks only its own names\n"
      "  --json           report as JSON\n";
  table.push_back({"next", "FILE CONTAINER BASE [options]", "propose a fresh name from a base name",
                   nextDetails, 3, 3,
                   {{"digits", true}, {"kind", true}, {"keywords", true}, {"json", false}}, RunNext});
  table.push_back({"check", "FILE CONTAINER NAME [options]",
                   "explain whether a name would be accepted", checkDetails, 3, 3,
                   {{"kind", true}, {"confine", false}, {"keywords", true}, {"json", false}},
                   RunCheck});
}

}  // namespace nametree::cli
