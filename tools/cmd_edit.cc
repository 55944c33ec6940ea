// Commands that change a document: add, rename, delete, add-container.
// Each loads the document, asks the library for one edit and saves only
// when the library answers S_OK; any other answer leaves the file as it was.
#include <cstdio>
#include <optional>

#include "args.h"
#include "cli.h"
#include "document.h"
#include "nametree/utf8.h"
#include "output.h"

namespace nametree::cli {

namespace {

// One edit of one document, with the notifications it caused.
class Edit {
 public:
  explicit Edit(const Args& args) : args_(args) {
    doc_.Notifications().Subscribe([this](const CNotification& n) {
      posted_.push_back({n.Name(), *n.Payload()});
    });
  }

  int Open() {
    if (int rc = doc_.Open(args_.At(0), true)) return rc;
    return LoadKeywords(args_, doc_.Server());
  }

  CNameServer& Server() { return doc_.Server(); }

  int Refuse(const std::string& what, const std::string& why, HRESULT hr) {
    ReportFile(doc_.Path(), what + ": " + why + " (" + StatusName(hr) + ")");
    return kExitRefused;
  }

  // Saves, then reports the result: `line` as text, or `fill` plus the
  // notifications as one JSON object.
  template <class FillJson>
  int Commit(const std::string& line, FillJson fill) {
    if (int rc = doc_.Save()) return rc;
    if (args_.Has("json")) {
      JsonWriter json;
      json.BeginObject();
      fill(json);
      json.Key("notifications");
      json.BeginArray();
      for (const PostedNotification& n : posted_) WriteNotificationJson(json, n);
      json.EndArray();
      json.EndObject();
      json.Print();
      return kExitOk;
    }
    std::printf("%s\n", line.c_str());
    for (const PostedNotification& n : posted_)
      std::printf("  notified %s\n", DescribeNotification(n).c_str());
    return kExitOk;
  }

 private:
  const Args& args_;
  Document doc_;
  std::vector<PostedNotification> posted_;
};

// Parses an ID argument or option; prints the usage error itself.
std::optional<std::uint32_t> IdArg(const Args& args, std::size_t i, const char* what) {
  std::optional<std::uint32_t> id = ParseUnsigned(args.At(i));
  if (!id) args.UsageError(std::string(what) + " must be a number, not \"" + args.At(i) + "\"");
  return id;
}

std::optional<CString> NameArg(const Args& args, std::size_t i) {
  std::optional<CString> name = ParseUtf8(args.At(i));
  if (!name) args.UsageError("the name \"" + args.At(i) + "\" is not valid UTF-8");
  return name;
}

std::optional<std::uint32_t> KindOption(const Args& args) {
  const std::string* text = args.Value("kind");
  if (!text) return kOrdinaryName;
  std::optional<std::uint32_t> kind = ParseUnsigned(*text);
  if (!kind) args.UsageError("--kind must be a number, not \"" + *text + "\"");
  return kind;
}

// Why the library refused a name for the container, as the refusal message says it.
std::string WhyRefused(CNameServer& server, HRESULT hr, std::uint32_t containerID,
                       const CString& name, std::uint32_t kind, bool confine) {
  if (hr == E_NAME_INVALID) return "not a valid name: " + DescribeInvalidName(name, kind);
  if (hr == E_NAME_DUPLICATE) {
    CDuplicateHit hit;
    server.FindDuplicate(containerID, name, confine, &hit);
    return DescribeDuplicate(hit);
  }
  if (containerID == 0 || !server.GetContainer(containerID))
    return "no container has ID " + std::to_string(containerID);
  if (name.empty()) return "the name is empty";
  return "the library refused it";
}

// FILE ID NAME [--kind N] [--confine]: the arguments of add and rename.
struct NameEdit {
  std::uint32_t id = 0;
  CString name;
  std::uint32_t kind = kOrdinaryName;
  bool confine = false;
};

std::optional<NameEdit> ParseNameEdit(const Args& args, const char* idWhat) {
  auto id = IdArg(args, 1, idWhat);
  if (!id) return std::nullopt;
  auto name = NameArg(args, 2);
  if (!name) return std::nullopt;
  auto kind = KindOption(args);
  if (!kind) return std::nullopt;
  return NameEdit{*id, *name, *kind, args.Has("confine")};
}

int RunAdd(const Args& args) {
  const std::optional<NameEdit> e = ParseNameEdit(args, "CONTAINER");
  if (!e) return kExitError;
  const bool confine = e->confine;

  Edit edit(args);
  if (int rc = edit.Open()) return rc;
  std::uint32_t id = 0;
  const HRESULT hr = edit.Server().AddName(id, e->id, e->name, e->kind, !args.Has("no-check"), confine);
  if (hr != S_OK)
    return edit.Refuse("cannot add " + Quoted(e->name) + " to container " + std::to_string(e->id),
                       WhyRefused(edit.Server(), hr, e->id, e->name, e->kind, confine), hr);
  return edit.Commit("added " + Quoted(e->name) + " to container " + std::to_string(e->id) +
                         " as ID " + std::to_string(id),
                     [&](JsonWriter& json) {
                       json.Member("id", id);
                       json.Member("container", e->id);
                       json.Member("name", e->name);
                     });
}

int RunRename(const Args& args) {
  const std::optional<NameEdit> e = ParseNameEdit(args, "ID");
  if (!e) return kExitError;
  const bool confine = e->confine;

  Edit edit(args);
  if (int rc = edit.Open()) return rc;
  CNameServer& server = edit.Server();
  const CNameContainer* holder = server.FindContainerOfName(e->id);
  CString old;
  server.GetName(e->id, old);
  const HRESULT hr = server.Rename(0, e->id, e->name, e->kind, true, confine);
  if (hr != S_OK) {
    std::string why;
    if (!holder)
      why = "no name has ID " + std::to_string(e->id);
    else if (hr == S_FALSE)
      why = "that is its name already; nothing to change";
    else
      why = WhyRefused(server, hr, holder->GetID(), e->name, e->kind, confine);
    return edit.Refuse("cannot rename ID " + std::to_string(e->id) + " to " + Quoted(e->name), why, hr);
  }
  return edit.Commit("renamed ID " + std::to_string(e->id) + " from " + Quoted(old) + " to " +
                         Quoted(e->name),
                     [&](JsonWriter& json) {
                       json.Member("id", e->id);
                       json.Member("container", holder->GetID());
                       json.Member("old", old);
                       json.Member("new", e->name);
                     });
}

int RunDelete(const Args& args) {
  auto id = IdArg(args, 1, "ID");
  if (!id) return kExitError;
  Edit edit(args);
  if (int rc = edit.Open()) return rc;
  CNameServer& server = edit.Server();
  const std::string what = "cannot delete ID " + std::to_string(*id);

  if (args.Has("container")) {
    if (*id == 0 || !server.GetContainer(*id))
      return edit.Refuse(what, "no container has ID " + std::to_string(*id), E_FAIL);
    if (HRESULT hr = server.DeleteContainer(*id, true); hr != S_OK)
      return edit.Refuse(what, "its parent container refused", hr);
    return edit.Commit("deleted container " + std::to_string(*id) + " with everything in it",
                       [&](JsonWriter& json) { json.Member("container", *id); });
  }

  const CNameContainer* holder = server.FindContainerOfName(*id);
  if (!holder) {
    const std::string why = server.GetContainer(*id)
                                ? "it is a container; add --container to delete it with its "
                                  "names and sub-containers"
                                : "no name has ID " + std::to_string(*id);
    return edit.Refuse(what, why, E_FAIL);
  }
  const std::uint32_t containerID = holder->GetID();
  CString old;
  server.GetName(*id, old);
  if (HRESULT hr = server.DeleteName(containerID, *id, true); hr != S_OK)
    return edit.Refuse(what, "the container refused", hr);
  return edit.Commit("deleted " + Quoted(old) + " (ID " + std::to_string(*id) +
                         ") from container " + std::to_string(containerID),
                     [&](JsonWriter& json) {
                       json.Member("id", *id);
                       json.Member("container", containerID);
                       json.Member("name", old);
                     });
}

std::optional<std::int16_t> ParseType(std::string_view text) {
  if (text == "plain") return kOrdinaryContainer;
  if (text == "global") return kGlobalContainer;
  if (text == "target") return kTargetContainer;
  if (text == "own") return kLocalCheckContainer;
  std::optional<std::int64_t> n = ParseSigned(text);
  if (!n || *n < INT16_MIN || *n > INT16_MAX) return std::nullopt;
  return static_cast<std::int16_t>(*n);
}

int RunAddContainer(const Args& args) {
  auto parent = IdArg(args, 1, "PARENT");
  if (!parent) return kExitError;
  std::int16_t type = kOrdinaryContainer;
  if (const std::string* text = args.Value("type")) {
    std::optional<std::int16_t> t = ParseType(*text);
    if (!t)
      return args.UsageError("--type must be global, target, own, plain or a number from -32768 "
                             "to 32767, not \"" + *text + "\"");
    type = *t;
  }
  Edit edit(args);
  if (int rc = edit.Open()) return rc;
  const std::uint32_t id = edit.Server().AddContainer(*parent, type);
  if (id == 0)
    return edit.Refuse("cannot add a container under " + std::to_string(*parent),
                       "no container has ID " + std::to_string(*parent), E_FAIL);
  const std::string where =
      *parent == 0 ? "at the top level" : "under container " + std::to_string(*parent);
  return edit.Commit("added container " + std::to_string(id) + " (" + TypeLabel(type) + ") " + where,
                     [&](JsonWriter& json) {
                       json.Member("id", id);
                       json.Member("parent", *parent);
                       json.Member("type", type);
                     });
}

constexpr std::string_view kNameOptions =
    "  --kind N         name kind; 1 lets a name begin with \"_\" (and makes add skip\n"
    "                   the name rule), other values are ordinary (default 0)\n"
    "  --confine        an \"own\" container (type 4) checks only its own names, the\n"
    "                   keywords and the global namespace\n"
    "  --keywords FILE  reserved words, UTF-8, one per line, that no name may repeat\n";

}  // namespace

void AddEditCommands(std::vector<CommandSpec>& table) {
  static const std::string addDetails =
      "NAME (UTF-8) is checked against the name rules and, unless --no-check, against\n"
      "every namespace the container must not collide with. Prints the new name's ID.\n\n" +
      std::string(kNameOptions) +
      "  --no-check       skip the duplicate check\n"
      "  --json           report as JSON\n";
  static const std::string renameDetails =
      "Gives the name with this ID a new text; the ID stays. Prints the \"NameChanged\"\n"
      "notification that the library posts.\n\n" +
      std::string(kNameOptions) + "  --json           report as JSON\n";
  table.push_back({"add", "FILE CONTAINER NAME [options]", "add a name to a container", addDetails,
                   3, 3,
                   {{"kind", true}, {"no-check", false}, {"confine", false}, {"keywords", true},
                    {"json", false}},
                   RunAdd});
  table.push_back({"rename", "FILE ID NEWNAME [options]", "give a name a new text", renameDetails,
                   3, 3, {{"kind", true}, {"confine", false}, {"keywords", true}, {"json", false}},
                   RunRename});
  table.push_back({"delete", "FILE ID [--container] [--json]", "delete a name (or a container)",
                   "Deletes the name with this ID and prints the \"NameWasDeleted\" notification.\n\n"
                   "  --container   ID is a container: delete it with its names and sub-containers\n"
                   "                (\"ContainerWasDeleted\")\n"
                   "  --json        report as JSON\n",
                   2, 2, {{"container", false}, {"json", false}}, RunDelete});
  table.push_back({"add-container", "FILE PARENT [--type T] [--json]", "add a container",
                   "PARENT 0 adds a top-level container. Prints the new container's ID.\n\n"
                   "  --type T   global (2), target (3), own (4), plain (0, the default), or any\n"
                   "             number from -32768 to 32767\n"
                   "  --json     report as JSON\n",
                   2, 2, {{"type", true}, {"json", false}}, RunAddContainer});
}

}  // namespace nametree::cli
