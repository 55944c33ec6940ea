#include "edit_ops.h"

#include <optional>

#include "nametree/refusal_text.h"

namespace nametree::cli {

namespace {

EditResult Usage(std::string message) { return {kExitError, E_INVALIDARG, std::move(message), {}, 0}; }
EditResult Refused(const std::string& what, const std::string& why, HRESULT hr) {
  return {kExitRefused, hr, what + ": " + why, {}, 0};
}

// An ID argument: a number, or in a batch @LABEL of an earlier line.
std::optional<std::uint32_t> IdArg(const EditContext& context, const std::string& text, const char* what,
                                   EditResult* error) {
  if (context.labels && !text.empty() && text[0] == '@') {
    const std::string_view label = std::string_view(text).substr(1);
    if (auto it = context.labels->ids.find(label); it != context.labels->ids.end()) return it->second;
    auto refused = context.labels->refusedAt.find(label);
    *error = refused != context.labels->refusedAt.end()
                 ? Refused(std::string(what) + " " + text,
                           "line " + std::to_string(refused->second) + ", which was to make it, was refused",
                           E_FAIL)
                 : Usage("no earlier line made " + text + " (a line names what it makes with --as)");
    return std::nullopt;
  }
  std::optional<std::uint32_t> id = ParseUnsigned(text);
  if (!id) *error = Usage(std::string(what) + " must be a number, not \"" + text + "\"");
  return id;
}

std::optional<CString> NameArg(const std::string& text, EditResult* error) {
  std::optional<CString> name = ParseUtf8(text);
  if (!name) *error = Usage("the name \"" + text + "\" is not valid UTF-8");
  return name;
}

std::optional<std::uint32_t> KindOption(const Args& args, EditResult* error) {
  const std::string* text = args.Value("kind");
  if (!text) return kOrdinaryName;
  std::optional<std::uint32_t> kind = ParseUnsigned(*text);
  if (!kind) *error = Usage("--kind must be a number, not \"" + *text + "\"");
  return kind;
}

// Why the library refused a name for the container, in words.
std::string WhyRefused(CNameServer& server, HRESULT hr, std::uint32_t containerID, const CString& name,
                       std::uint32_t kind, bool confine) {
  return DescribeNameRefusal(server, hr, containerID, name, kind, confine);
}

// The arguments add and rename share: an ID (the container's or the name's),
// the new text, its kind and whether the check stays in an own container.
struct NameEditArgs {
  std::uint32_t id;
  CString name;
  std::uint32_t kind;
  bool confine;
};

std::optional<NameEditArgs> ParseNameEdit(const EditContext& context, const Args& args, const char* what,
                                          EditResult* error) {
  auto id = IdArg(context, args.At(0), what, error);
  if (!id) return std::nullopt;
  auto name = NameArg(args.At(1), error);
  if (!name) return std::nullopt;
  auto kind = KindOption(args, error);
  if (!kind) return std::nullopt;
  return NameEditArgs{*id, std::move(*name), *kind, args.Has("confine")};
}

EditResult Add(EditContext& context, const Args& args) {
  EditResult error;
  auto edit = ParseNameEdit(context, args, "CONTAINER", &error);
  if (!edit) return error;
  const std::uint32_t container = edit->id;
  const CString& name = edit->name;
  const std::uint32_t kind = edit->kind;
  const bool confine = edit->confine;
  CNameServer& server = context.server;
  std::uint32_t id = 0;
  const HRESULT hr = server.AddName(id, container, name, kind, !args.Has("no-check"), confine);
  if (hr != S_OK)
    return Refused("cannot add " + Quoted(name) + " to container " + std::to_string(container),
                   WhyRefused(server, hr, container, name, kind, confine), hr);
  EditResult r;
  r.created = id;
  r.text = "added " + Quoted(name) + " to container " + std::to_string(container) + " as ID " + std::to_string(id);
  r.json["id"] = id;
  r.json["container"] = container;
  r.json["name"] = JsonText(name);
  return r;
}

EditResult Rename(EditContext& context, const Args& args) {
  EditResult error;
  auto edit = ParseNameEdit(context, args, "ID", &error);
  if (!edit) return error;
  const std::uint32_t id = edit->id;
  const CString& name = edit->name;
  const std::uint32_t kind = edit->kind;
  const bool confine = edit->confine;
  CNameServer& server = context.server;
  const CNameContainer* holder = server.FindContainerOfName(id);
  CString old;
  server.GetName(id, old);
  const HRESULT hr = server.Rename(0, id, name, kind, true, confine);
  if (hr != S_OK) {
    std::string why;
    if (!holder)
      why = "no name has ID " + std::to_string(id);
    else if (hr == S_FALSE)
      why = "that is its name already; nothing to change";
    else
      why = WhyRefused(server, hr, holder->GetID(), name, kind, confine);
    return Refused("cannot rename ID " + std::to_string(id) + " to " + Quoted(name), why, hr);
  }
  EditResult r;
  r.text = "renamed ID " + std::to_string(id) + " from " + Quoted(old) + " to " + Quoted(name);
  r.json["id"] = id;
  r.json["container"] = holder->GetID();
  r.json["old"] = JsonText(old);
  r.json["new"] = JsonText(name);
  return r;
}

EditResult Delete(EditContext& context, const Args& args) {
  EditResult error;
  auto id = IdArg(context, args.At(0), "ID", &error);
  if (!id) return error;
  CNameServer& server = context.server;
  const std::string what = "cannot delete ID " + std::to_string(*id);
  EditResult r;
  if (args.Has("container")) {
    if (*id == 0 || !server.GetContainer(*id)) return Refused(what, "no container has ID " + std::to_string(*id), E_FAIL);
    if (HRESULT hr = server.DeleteContainer(*id, true); hr != S_OK)
      return Refused(what, "its parent container refused", hr);
    r.text = "deleted container " + std::to_string(*id) + " with everything in it";
    r.json["container"] = *id;
    return r;
  }
  const CNameContainer* holder = server.FindContainerOfName(*id);
  if (!holder) {
    const std::string why = server.GetContainer(*id) ? "it is a container; add --container to delete it with its "
                                                       "names and sub-containers"
                                                     : "no name has ID " + std::to_string(*id);
    return Refused(what, why, E_FAIL);
  }
  const std::uint32_t containerID = holder->GetID();
  CString old;
  server.GetName(*id, old);
  if (HRESULT hr = server.DeleteName(containerID, *id, true); hr != S_OK)
    return Refused(what, "the container refused", hr);
  r.text = "deleted " + Quoted(old) + " (ID " + std::to_string(*id) + ") from container " + std::to_string(containerID);
  r.json["id"] = *id;
  r.json["container"] = containerID;
  r.json["name"] = JsonText(old);
  return r;
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

EditResult AddContainer(EditContext& context, const Args& args) {
  EditResult error;
  auto parent = IdArg(context, args.At(0), "PARENT", &error);
  if (!parent) return error;
  std::int16_t type = kOrdinaryContainer;
  if (const std::string* text = args.Value("type")) {
    std::optional<std::int16_t> t = ParseType(*text);
    if (!t)
      return Usage("--type must be global, target, own, plain or a number from -32768 to 32767, not \"" + *text +
                   "\"");
    type = *t;
  }
  CNameServer& server = context.server;
  const std::uint32_t id = server.AddContainer(*parent, type);
  if (id == 0) {
    const CNameContainer* p = *parent == 0 ? nullptr : server.GetContainer(*parent);
    const std::string why = *parent != 0 && !p ? "no container has ID " + std::to_string(*parent)
                                               : "it holds " + std::to_string(kMaxEntriesPerTable) +
                                                     " containers, the most a saved document allows";
    return Refused("cannot add a container under " + std::to_string(*parent), why, E_FAIL);
  }
  EditResult r;
  r.created = id;
  r.text = "added container " + std::to_string(id) + " (" + TypeLabel(type) + ") " +
           (*parent == 0 ? "at the top level" : "under container " + std::to_string(*parent));
  r.json["id"] = id;
  r.json["parent"] = *parent;
  r.json["type"] = type;
  return r;
}

EditResult Keyword(EditContext& context, const Args& args) {
  EditResult error;
  auto word = NameArg(args.At(0), &error);
  if (!word) return error;
  EditResult r;
  r.hr = context.server.AddKeyword(*word);
  r.text = (r.hr == S_OK ? "reserved " : "already reserved: ") + Quoted(*word);
  r.json["keyword"] = JsonText(*word);
  return r;
}

}  // namespace

EditResult ApplyEdit(EditContext& context, const Args& args) {
  const std::string_view command = args.Command();
  if (command == "add") return Add(context, args);
  if (command == "rename") return Rename(context, args);
  if (command == "delete") return Delete(context, args);
  if (command == "add-container") return AddContainer(context, args);
  if (command == "keyword") return Keyword(context, args);
  return Usage("unknown edit command \"" + std::string(command) + "\"");
}

}  // namespace nametree::cli
