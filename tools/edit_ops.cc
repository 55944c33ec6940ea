#include "edit_ops.h"

#include "nametree/kept_text.h"

#include <limits>
#include <optional>

#include "container_arg.h"
#include "keywords.h"
#include "nametree/keyword_sets.h"
#include "nametree/kept_text.h"
#include "nametree/refusal_text.h"
#include "nametree/tree_walk.h"

namespace nametree::cli {

EditResult Usage(std::string message) {
  EditResult r;
  r.exit = kExitError;
  r.hr = E_INVALIDARG;
  r.text = std::move(message);
  return r;
}

namespace {
EditResult Refused(const std::string& what, const std::string& why, HRESULT hr) {
  EditResult r;
  // mutate: refusal-exit-code
  r.exit = kExitRefused;
  r.hr = hr;
  r.text = what + ": " + why;
  return r;
}

// The library's refusal, worded after what the program says was refused.
EditResult Refused(const std::string& what, const Error& error, std::uint32_t container = 0, std::uint32_t name = 0) {
  EditResult r = Refused(what, std::string(error.reason()), error.status());
  r.judgedOut = error.kind() == ErrorKind::kFindings;
  r.notFound = error.kind() == ErrorKind::kNotFound && error.refusal().reason == CNameRefusal::Reason::kNoContainer;
  if (r.notFound) r.exit = kExitError;
  r.container = container;
  r.name = name;
  return r;
}

// A name whose text the document cannot keep is quoted whole; other
// refusals echo it cut to a line.
std::string NameWhat(const Error& error, const CString& name) {
  const bool unkept = error.kind() == ErrorKind::kInvalidName && error.refusal().reason == CNameRefusal::Reason::kNone;
  return unkept ? Quoted(name) : Echo(Quoted(name));
}

// An ID argument: a number, @LABEL of an earlier line of a batch, or
// @LABEL of a container labelled in the document.
std::optional<std::uint32_t> IdArg(const EditContext* context, const std::string& text, const char* what,
                                   EditResult* error) {
  if (context && IsLabelArg(text)) {
    const std::string_view label = std::string_view(text).substr(1);
    const Labels* labels = context->labels;
    if (labels)
      if (auto it = labels->ids.find(label); it != labels->ids.end()) return it->second;
    std::string unknown;
    if (auto id = ContainerArg(context->doc, text, what, &unknown)) return id;
    auto refused = labels ? labels->refusedAt.find(label) : std::map<std::string, int, std::less<>>::iterator();
    *error = labels && refused != labels->refusedAt.end()
                 ? Refused(std::string(what) + " " + text,
                           "line " + std::to_string(refused->second) + ", which was to make it, was refused",
                           E_FAIL)
             : labels ? Usage("no earlier line made " + Echo(text) +
                              " and no container has that label (a line names what it makes with --as)")
                      : Usage(unknown);
    return std::nullopt;
  }
  std::optional<std::uint32_t> id = ParseUnsigned(text);
  if (!id) *error = Usage(std::string(what) + " must be a number, not \"" + Echo(text) + "\"");
  return id;
}

std::optional<CString> NameArg(const std::string& text, EditResult* error) {
  std::optional<CString> name = ParseName(text);
  if (!name) *error = Usage("the name \"" + Echo(text) + "\" is not valid UTF-8");
  return name;
}

std::optional<std::uint32_t> KindArg(const std::string* text, EditResult* error) {
  if (!text) return kOrdinaryName;
  std::optional<std::uint32_t> kind = ParseUnsigned(*text);
  if (!kind) *error = Usage("--kind must be a number, not \"" + Echo(*text) + "\"");
  return kind;
}

// How the usage line names the edit's ID.
const char* IdWhat(Edit::Op op) {
  return op == Edit::Op::kAdd ? "CONTAINER" : op == Edit::Op::kAddContainer ? "PARENT" : "ID";
}

// The ID typed for the edit: the number, or that of @LABEL.
std::optional<std::uint32_t> EditId(const EditContext& context, const Edit& edit, EditResult* error) {
  return IdArg(&context, edit.id, IdWhat(edit.op), error);
}

// An ID that is no label must be a number before anything else is read.
bool CheckIdText(const Edit& edit, EditResult* error) {
  if (IsLabelArg(edit.id)) return true;
  return IdArg(nullptr, edit.id, IdWhat(edit.op), error).has_value();
}

EditResult Add(EditContext& context, const Edit& edit) {
  EditResult error;
  const std::optional<std::uint32_t> found = EditId(context, edit, &error);
  if (!found) return error;
  const std::uint32_t container = *found;
  const CString& name = edit.name;
  const Result<std::uint32_t> added = context.doc.Add(container, name, edit.kind, {edit.check, edit.confine});
  if (!added)
    return Refused("cannot add " + NameWhat(added.error(), name) + " to container " + std::to_string(container),
                   added.error(), container);
  EditResult r;
  r.created = *added;
  r.container = container;
  r.text = "added " + Quoted(name) + " to container " + std::to_string(container) + " as ID " + std::to_string(*added);
  r.json["id"] = *added;
  r.json["container"] = container;
  r.json["name"] = JsonText(name);
  return r;
}

EditResult Rename(EditContext& context, const Edit& edit) {
  EditResult error;
  const std::optional<std::uint32_t> found = EditId(context, edit, &error);
  if (!found) return error;
  const std::uint32_t id = *found;
  const CString& name = edit.name;
  CString old;
  const std::uint32_t holder = context.doc.HolderOf(id, &old);
  const Result<bool> renamed = context.doc.Rename(id, name, edit.kind, {true, edit.confine});
  const std::string what = "cannot rename ID " + std::to_string(id) + " to ";
  if (!renamed) return Refused(what + NameWhat(renamed.error(), name), renamed.error(), holder, id);
  if (!*renamed) return Refused(what + Echo(Quoted(name)), "that is its name already; nothing to change", S_FALSE);
  EditResult r;
  r.text = "renamed ID " + std::to_string(id) + " from " + Quoted(old) + " to " + Quoted(name);
  r.name = id;
  r.container = holder;
  r.json["id"] = id;
  r.json["container"] = r.container;
  r.json["old"] = JsonText(old);
  r.json["new"] = JsonText(name);
  return r;
}

EditResult Delete(EditContext& context, const Edit& edit) {
  EditResult error;
  const std::optional<std::uint32_t> id = EditId(context, edit, &error);
  if (!id) return error;
  Document& doc = context.doc;
  const std::string what = "cannot delete ID " + std::to_string(*id);
  EditResult r;
  if (edit.container) {
    // mutate: delete-counts-after
    const SubtreeCounts gone = doc.Count(*id);
    if (Result<void> deleted = doc.DeleteContainer(*id); !deleted) return Refused(what, deleted.error(), *id);
    r.text = "deleted container " + std::to_string(*id) + " with " + Counted(gone.containers - 1, "sub-container") +
             " and " + Counted(gone.names, "name");
    r.container = *id;
    r.json["container"] = *id;
    r.json["subContainers"] = gone.containers - 1;
    r.json["names"] = gone.names;
    return r;
  }
  CString old;
  const std::uint32_t containerID = doc.HolderOf(*id, &old);
  if (!containerID && doc.IsContainer(*id))
    return Refused(what, "it is a container; add --container to delete it with its names and sub-containers", E_FAIL);
  if (Result<void> deleted = doc.Delete(*id); !deleted) return Refused(what, deleted.error(), containerID, *id);
  r.text = "deleted " + Quoted(old) + " (ID " + std::to_string(*id) + ") from container " + std::to_string(containerID);
  r.name = *id;
  r.container = containerID;
  r.json["id"] = *id;
  r.json["container"] = containerID;
  r.json["name"] = JsonText(old);
  return r;
}

// The label a new container is to keep: refused before anything is added
// when the document cannot take it. A batch line whose label a container of
// the same parent and type holds already is that container (a rerun).
std::optional<EditResult> CheckNewLabel(EditContext& context, const Edit& edit, std::uint32_t parent) {
  if (!edit.storeLabel) return std::nullopt;
  const std::string what = "cannot label the new container " + Echo(edit.label);
  // Text that is no UTF-8 is judged as the empty label, which the name rule refuses too.
  const CString label = ParseName(edit.label).value_or(CString());
  const NameVerdict verdict = context.doc.CheckLabel(0, label);
  if (verdict) return std::nullopt;
  const std::uint32_t holder = verdict.otherContainer;
  if (!holder) return Refused(what, verdict.reason, E_NAME_INVALID);
  const ContainerRef ref = *context.doc.FindContainer(holder);
  // mutate: label-rerun-any-container
  if (context.labels && ref.ParentId() == parent && ref.Type() == edit.type) {
    EditResult r;
    r.created = holder;
    r.text = "container " + std::to_string(holder) + " (" + ContainerTypeName(edit.type) + ") @" + Display(label) +
             " is there already";
    r.json["id"] = holder;
    r.json["parent"] = parent;
    r.json["type"] = ContainerTypeNumber(edit.type);
    r.json["label"] = JsonText(label);
    r.json["existing"] = true;
    r.unchanged = true;
    return r;
  }
  return Refused(what, verdict.reason, E_FAIL);
}

EditResult AddContainer(EditContext& context, const Edit& edit) {
  EditResult error;
  const std::optional<std::uint32_t> parent = EditId(context, edit, &error);
  if (!parent) return error;
  if (std::optional<EditResult> labelled = CheckNewLabel(context, edit, *parent)) return *labelled;
  const ContainerType type = edit.type;
  const Result<std::uint32_t> added = context.doc.AddContainer(*parent, type);
  if (!added) return Refused("cannot add a container under " + std::to_string(*parent), added.error());
  const std::uint32_t id = *added;
  EditResult r;
  r.created = id;
  r.text = "added container " + std::to_string(id) + " (" + ContainerTypeName(type) + ") " +
           (*parent == 0 ? "at the top level" : "under container " + std::to_string(*parent));
  r.json["id"] = id;
  r.json["parent"] = *parent;
  r.json["type"] = ContainerTypeNumber(type);
  if (edit.storeLabel) {
    (void)context.doc.SetLabel(id, std::u16string_view(*ParseName(edit.label)));  // judged by CheckNewLabel
    r.text += " labelled @" + Display(context.doc.Label16(id));
    r.json["label"] = JsonText(context.doc.Label16(id));
  }
  return r;
}

EditResult Keyword(EditContext& context, const Edit& edit) {
  EditResult r;
  // mutate: batch-keyword-not-kept
  const Result<bool> kept = context.doc.KeepKeyword(edit.name);
  if (!kept)
    return Refused("cannot keep the keyword " + Quoted(edit.name), std::string(kept.error().message()), E_NAME_INVALID);
  const Result<bool> reserved = context.doc.Reserve(edit.name);
  if (!reserved) return Refused("cannot apply the edit", reserved.error());
  r.hr = *kept || *reserved ? S_OK : S_FALSE;
  r.text = (r.hr == S_OK ? "reserved " : "already reserved: ") + Quoted(edit.name);
  r.json["keyword"] = JsonText(edit.name);
  return r;
}

// "global, target, own, plain or a number from -32768 to 32767": what
// ParseContainerType takes.
std::string TypeChoices() {
  std::string words;
  for (ContainerType type : kNamedContainerTypes) words += ContainerTypeName(type) + ", ";
  // mutate: type-choices-cut
  return words.substr(0, words.size() - 2) + " or a number from " +
         std::to_string(std::numeric_limits<std::int16_t>::min()) + " to " +
         std::to_string(std::numeric_limits<std::int16_t>::max());
}

bool TypeArg(const std::string& text, Edit* edit, EditResult* error) {
  std::optional<ContainerType> t = ParseContainerType(text);
  if (!t) *error = Usage("--type must be " + TypeChoices() + ", not \"" + Echo(text) + "\"");
  else edit->type = *t;
  return t.has_value();
}

}  // namespace

std::vector<std::string> ContainerTypeWords() {
  std::vector<std::string> words;
  for (ContainerType type : kNamedContainerTypes) words.push_back(ContainerTypeName(type));
  return words;
}

std::string SetEditId(Edit& edit, const Words& words) {
  if (words.empty()) return {};
  edit.id = words.back();
  EditResult error;
  return CheckIdText(edit, &error) ? std::string() : error.text;
}

std::string SetEditName(Edit& edit, const Words& words) {
  if (words.empty()) return {};
  EditResult error;
  std::optional<CString> name = NameArg(words.back(), &error);
  if (!name) return error.text;
  edit.name = std::move(*name);
  return {};
}

std::string SetEditKind(Edit& edit, const Words& words) {
  EditResult error;
  const std::optional<std::uint32_t> kind = KindArg(words.empty() ? nullptr : &words.back(), &error);
  if (!kind) return error.text;
  edit.kind = *kind;
  return {};
}

std::string SetEditType(Edit& edit, const Words& words) {
  EditResult error;
  return words.empty() || TypeArg(words.back(), &edit, &error) ? std::string() : error.text;
}

std::string SetKeywordWord(Edit& edit, const Words& words) {
  edit.word = !words.empty();
  return SetEditName(edit, words);
}

std::string SetKeywordSet(Edit& edit, const Words& words) {
  if (words.empty()) return {};
  if (KeywordSet(words.back()).empty()) return UnknownKeywordSet(words.back());
  edit.set = words.back();
  return {};
}

std::string CheckKeywordLine(const Edit& edit) {
  return edit.word == !edit.set.empty() ? "a keyword line gives a WORD or --set NAME" : "";
}

std::optional<Edit> ParseRow(const std::string& container, const std::string& name, const std::string* kind,
                             EditResult* error) {
  Edit edit;
  edit.id = container;
  if (!CheckIdText(edit, error)) return std::nullopt;
  auto text = NameArg(name, error);
  if (!text) return std::nullopt;
  auto k = KindArg(kind, error);
  if (!k) return std::nullopt;
  edit.name = std::move(*text);
  edit.kind = *k;
  return edit;
}

std::optional<Edit> ParseContainerRow(const std::string& parent, const std::string& type, std::string label, bool keep,
                                      EditResult* error) {
  Edit edit;
  edit.op = Edit::Op::kAddContainer;
  edit.id = parent;
  if (!CheckIdText(edit, error)) return std::nullopt;
  if (!type.empty() && !TypeArg(type, &edit, error)) return std::nullopt;
  edit.label = std::move(label);
  edit.storeLabel = keep;
  return edit;
}

namespace {

EditResult Apply(EditContext& context, const Edit& edit) {
  using Op = Edit::Op;
  switch (edit.op) {
    case Op::kAdd: return Add(context, edit);
    case Op::kRename: return Rename(context, edit);
    case Op::kDelete: return Delete(context, edit);
    case Op::kAddContainer: return AddContainer(context, edit);
    case Op::kKeyword: return Keyword(context, edit);
  }
  return Usage("unknown edit");
}

}  // namespace

EditResult ApplyEdit(EditContext& context, const Edit& edit) {
  if (edit.op == Edit::Op::kKeyword && !edit.set.empty()) {
    // One word at a time, so that the check is told of each.
    EditResult all;
    std::size_t fresh = 0, words = 0;
    for (std::u16string_view word : KeywordSet(edit.set)) {
      Edit one = edit;
      one.set.clear();
      one.name = CString(word);
      EditResult r = ApplyEdit(context, one);
      if (r.exit != kExitOk) return r;
      ++words;
      fresh += r.hr == S_OK ? 1 : 0;
      for (DocumentFinding& f : r.findings) all.findings.push_back(std::move(f));
    }
    all.text = "reserved " + Counted(fresh, "word") + " of the set " + edit.set + " (" + std::to_string(words - fresh) +
               " already)";
    all.json["keywordSet"] = edit.set;
    all.json["reserved"] = fresh;
    return all;
  }
  EditResult r = Apply(context, edit);
  if ((r.exit == kExitOk && !r.unchanged) || r.judgedOut) r.findings = context.doc.LastFindings();
  if (!r.judgedOut) return r;
  r.kept = context.doc.KeepsRefusedEdit();
  const std::size_t n = r.findings.size();
  const std::string container = std::to_string(r.container);
  const std::string id = std::to_string(r.name);
  const std::string what = edit.op == Edit::Op::kAdd ? "cannot add " + Echo(Quoted(edit.name)) + " to container " + container
                           : edit.op == Edit::Op::kRename ? "cannot rename ID " + id + " to " + Echo(Quoted(edit.name))
                           : edit.op == Edit::Op::kDelete ? "cannot delete " + (edit.container ? "container " + container : "ID " + id)
                                                          : "cannot apply the edit";
  r.text = what + ": lint would then report " + std::to_string(n) + (n == 1 ? " finding" : " findings") +
           " more, which --strict refuses";
  return r;
}

}  // namespace nametree::cli
