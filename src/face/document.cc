#include "nametree/document.h"

#include <algorithm>

#include "face/document_store.h"
#include "nametree/kept_text.h"
#include "nametree/keyword_sets.h"
#include "nametree/refusal_text.h"
#include "platform/text.h"
#include "nametree/utf8.h"

namespace nametree {

namespace {

std::string Num(std::uint32_t n) { return std::to_string(n); }

using Reason = CNameRefusal::Reason;

// The one sentence for a missing container.
Error NoContainer(const std::string& what, std::uint32_t id) {
  // mutate: missing-container-refused
  return Error(ErrorKind::kNotFound, E_FAIL, what, "no container has ID " + Num(id), {Reason::kNoContainer, {}, {}});
}

Error NoName(const std::string& what, std::uint32_t id) {
  return Error(ErrorKind::kNotFound, E_FAIL, what, "no name has ID " + Num(id), {Reason::kNoName, {}, {}});
}

bool HasContainer(const CNameServer& server, std::uint32_t id) { return id != 0 && server.GetContainer(id); }

// Checked before every edit: a read-only document is never changed, so no
// edit can turn it dirty and then vanish.
std::optional<Error> RefuseReadOnly(const Document& doc, const std::string& what) {
  // mutate: read-only-document-edited
  if (!doc.IsReadOnly()) return std::nullopt;
  return Error(ErrorKind::kReadOnly, STG_E_ACCESSDENIED,
               what + ": the document was opened read-only; open it for writing to change it");
}

bool WellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::optional<Error> RefuseUnkept(std::u16string_view text, const char* role) {
  if (const KeptTextVerdict kept = JudgeKeptText(text); !kept)
    return Error(ErrorKind::kInvalidName, E_NAME_INVALID,
                 std::string("the ") + role + " " + QuotedName(text) + " cannot be kept",
                 DescribeKeptTextRefusal(text, kept), {});
  return std::nullopt;
}

Result<CString> Kept(CString text, const char* role) {
  if (std::optional<Error> refused = RefuseUnkept(text, role)) return *refused;
  return text;
}

Result<CString> TextIn(std::string_view text, const char* role) {
  std::optional<CString> wide = FromUtf8Strict(text);
  if (!wide)
    return Error(ErrorKind::kInvalidText, E_INVALIDARG,
                 std::string("the ") + role + " is not valid UTF-8; pass the text in UTF-8 (nothing is replaced)");
  return Kept(std::move(*wide), role);
}

Result<CString> TextIn(std::u16string_view text, const char* role) {
  if (!WellFormed(text))
    return Error(ErrorKind::kInvalidText, E_INVALIDARG,
                 std::string("the ") + role + " holds a lone UTF-16 surrogate; pass well-formed UTF-16");
  return Kept(CString(text), role);
}

Error MovedFrom() { return Error(ErrorKind::kInvalidArgument, E_FAIL, "document moved from"); }

Error OutOfIds(const std::string& what) {
  return Error(ErrorKind::kOutOfIds, E_FAIL, what,
               "every name and container ID up to " + Num(CNameContainer::GetLastIssuedNameID()) +
                   " has been issued in this process; a new ID would wrap to one in use",
               {Reason::kOutOfIds, {}, {}});
}

// A judged edit that strict refuses.
Error MoreFindings(const std::string& what, std::size_t n) {
  return Error(ErrorKind::kFindings, E_FAIL, what,
               "the document check would then report " + Num(static_cast<std::uint32_t>(n)) + " more", {});
}

// The kind of error a refusal of the server's is.
ErrorKind KindOf(Reason reason) {
  switch (reason) {
    case Reason::kInvalidName:
    case Reason::kEmpty: return ErrorKind::kInvalidName;
    // mutate: duplicate-as-other-refusal
    case Reason::kDuplicate: return ErrorKind::kDuplicate;
    // mutate: keyword-refusal-is-duplicate
    case Reason::kKeyword: return ErrorKind::kKeyword;
    case Reason::kNoContainer:
    case Reason::kNoName: return ErrorKind::kNotFound;
    case Reason::kFull: return ErrorKind::kFull;
    case Reason::kOutOfMemory: return ErrorKind::kOutOfMemory;
    case Reason::kOutOfIds: return ErrorKind::kOutOfIds;
    case Reason::kNone: break;
  }
  return ErrorKind::kFailed;
}

// The error for a name the server refused with hr, as "what: why", from
// the reason the server gave.
Error NameRefusal(HRESULT hr, const CNameRefusal& why, std::uint32_t container, const CString& name,
                  std::uint32_t kind, const std::string& what) {
  // mutate: out-of-ids-is-failed
  if (why.reason == Reason::kOutOfIds) return OutOfIds(what);
  if (why.reason == Reason::kNoContainer) return NoContainer(what, container);
  return Error(KindOf(why.reason), hr, what, DescribeNameRefusal(why, container, name, kind), why);
}

std::string AddWhat(const CString& name, std::uint32_t container) {
  return "cannot add " + QuotedName(name) + " to container " + Num(container);
}

template <class Text>
Result<std::vector<CString>> TextsIn(std::span<const Text> texts) {
  std::vector<CString> wide;
  wide.reserve(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    Result<CString> one = TextIn(std::basic_string_view<typename Text::value_type>(texts[i]), "name");
    if (!one)
      return Error(one.error().kind(), one.error().status(),
                   "name " + std::to_string(i + 1) + " of " + std::to_string(texts.size()) + ": " +
                       one.error().message());
    wide.push_back(std::move(*one));
  }
  return wide;
}

// The add every face's Add ends in: the document's name rule, then the
// server's, followed by the judge when one is set. `name` is kept already.
Result<std::uint32_t> AddKept(Document::Store& store, std::uint32_t container, std::u16string_view name,
                              std::uint32_t kind, const Document::EditOptions& how) {
  CNameServer& server = store.Server();
  store.KeepCounterAbove();
  CString text(name);  // the one copy: the server keeps it
  CNameRefusal why;
  std::uint32_t serverKind = kind;
  if (store.File().ExplainNameRule(text, kind, &why.rule, &serverKind) && serverKind != kind)
    return NameRefusal(E_NAME_INVALID, {Reason::kInvalidName, why.rule, {}}, container, text, serverKind,
                       AddWhat(text, container));
  EditJudge* judge = store.judge.get();
  if (judge) judge->Before().BeforeAddName(text);
  std::uint32_t id = 0;
  const HRESULT hr = server.AddName(id, container, std::move(text), serverKind, how.checkDuplicates, how.confine, &why);
  if (judge && judge->After(hr == S_OK, id)) {
    judge->UndoAdd(server, container, id);
    return MoreFindings(AddWhat(CString(name), container), judge->Findings().size());
  }
  if (hr != S_OK) return NameRefusal(hr, why, container, CString(name), serverKind, AddWhat(CString(name), container));
  return id;
}

// The rename every face's Rename ends in; true when the text changed.
Result<bool> RenameKept(Document::Store& store, std::uint32_t id, std::u16string_view name, std::uint32_t kind,
                        const Document::EditOptions& how) {
  CNameServer& server = store.Server();
  CString text(name);  // the one copy: the server keeps it
  const auto what = [&] { return "cannot rename ID " + Num(id) + " to " + QuotedName(name); };
  CNameRefusal why;
  std::uint32_t serverKind = kind;
  // The document's rule first, as an add asks it before the container.
  if (store.File().ExplainNameRule(text, kind, &why.rule, &serverKind) && serverKind != kind)
    return NameRefusal(E_NAME_INVALID, {Reason::kInvalidName, why.rule, {}}, 0, text, serverKind, what());
  const CNameContainer* holder = id == 0 ? nullptr : server.FindContainerOfName(id);
  if (!holder) return NoName(what(), id);
  EditJudge* judge = store.judge.get();
  CString old;
  if (judge) {
    server.GetName(id, old);
    judge->Before().BeforeRename(id, text);
  }
  const HRESULT hr = server.Rename(0, id, std::move(text), serverKind, true, how.confine, &why);
  if (judge && judge->After(hr == S_OK, 0)) {
    judge->UndoRename(server, id, old);
    return MoreFindings(what(), judge->Findings().size());
  }
  if (hr == S_OK || hr == S_FALSE) return hr == S_OK;
  return NameRefusal(hr, why, holder->GetID(), CString(name), serverKind, what());
}

// The end of a judged edit the server cannot take back: a strict refusal
// leaves it in and says so.
Result<void> Judged(EditJudge* judge, bool applied, const std::string& what, std::optional<Error> refused) {
  if (judge && judge->After(applied)) {
    judge->Keep();
    return MoreFindings(what, judge->Findings().size());
  }
  if (refused) return *refused;
  return {};
}

}  // namespace

Document::Document(std::unique_ptr<Store> store) : store_(std::move(store)) {}
// mutate: moved-from-not-marked
Document::Document(Document&& other) noexcept : store_(std::move(other.store_)), movedFrom_(other.movedFrom_) {
  other.movedFrom_ = true;
}

Document& Document::operator=(Document&& other) noexcept {
  if (this != &other) {
    store_ = std::move(other.store_);
    movedFrom_ = other.movedFrom_;
    other.movedFrom_ = true;
  }
  return *this;
}

Document::~Document() = default;

Result<Document> Document::Open(const std::filesystem::path& path, const OpenOptions& options) {
  if (options.create && options.readOnly)
    return Error(ErrorKind::kInvalidArgument, E_INVALIDARG,
                 path.string() + ": a document cannot be created read-only");
  if (options.wait.count() < 0)
    return Error(ErrorKind::kInvalidArgument, E_INVALIDARG, "the wait for the lock cannot be negative");
  Error error;
  std::unique_ptr<Store> store = Store::Open(path, options, &error);
  if (!store) return error;
  return Document(std::move(store));
}

Document Document::InMemory() { return Document(Store::InMemory()); }

Result<Document> Document::ImportLegacy(const std::filesystem::path& path, std::vector<CLegacyDrop>* drops) {
  LegacyDropObserver dropped;
  if (drops) dropped = [drops](const CLegacyDrop& d) { drops->push_back(d); };
  Error error;
  std::unique_ptr<Store> store = Store::ImportLegacy(path, dropped, &error);
  if (!store) return error;
  return Document(std::move(store));
}

Result<void> Document::Commit() { return Commit(nullptr); }

Result<void> Document::Commit(std::vector<std::string>* leftOut) {
  if (movedFrom_) return MovedFrom();
  return store_->Commit(leftOut);
}

Result<void> Document::CreateFile(const std::filesystem::path& path, const OpenOptions& options) {
  if (movedFrom_) return MovedFrom();
  return store_->CreateFile(path, options);
}

bool Document::IsDryRun() const { return !movedFrom_ && store_->IsDryRun(); }

std::vector<DocumentDamage> Document::Damage() const {
  if (movedFrom_) return {};
  return store_->Damage();
}

CNotificationManager& Document::Notifications() {
  if (!store_) store_ = Store::InMemory();
  return store_->File().Notifications();
}
bool Document::IsReadOnly() const { return movedFrom_ || store_->IsReadOnly(); }
bool Document::IsDirty() const { return !movedFrom_ && store_->Server().IsDirty(); }
std::vector<std::string> Document::Warnings() const {
  if (movedFrom_) return {MovedFrom().message()};
  return store_->Warnings();
}
CNameServer& Document::Server() {
  if (!store_) store_ = Store::InMemory();
  return store_->Server();
}
const CNameServer& Document::Server() const {
  if (!store_) store_ = Store::InMemory();
  return store_->Server();
}

Result<std::uint32_t> Document::AddContainer(std::uint32_t parent, ContainerType type) {
  if (movedFrom_) return MovedFrom();
  CNameServer& server = Server();
  const std::string what = "cannot add a container under " + Num(parent);
  if (auto refused = RefuseReadOnly(*this, what)) return *refused;
  if (parent != 0 && !HasContainer(server, parent)) return NoContainer(what, parent);
  store_->KeepCounterAbove();
  EditJudge* judge = store_->judge.get();
  if (judge) judge->Before().BeforeAddContainer();
  CNameRefusal why;
  const std::uint32_t id = server.AddContainer(parent, ContainerTypeNumber(type), &why);
  if (Result<void> judged = Judged(judge, id != 0, what, std::nullopt); !judged) return judged.error();
  if (id != 0) return id;
  // mutate: container-out-of-ids-is-full
  if (why.reason == Reason::kOutOfIds) return OutOfIds(what);
  if (why.reason == Reason::kOutOfMemory)
    return Error(ErrorKind::kOutOfMemory, E_OUTOFMEMORY, what, "the system ran out of memory", why);
  return Error(ErrorKind::kFull, E_FAIL, what,
               "it holds " + std::to_string(kMaxEntriesPerTable) + " containers, the most a saved document allows", why);
}

Result<std::uint32_t> Document::Add(std::uint32_t container, std::string_view text, std::uint32_t kind) {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "name");
  if (!name) return name.error();
  return Add(container, std::u16string_view(*name), kind);
}

Result<std::uint32_t> Document::Add(std::uint32_t container, std::u16string_view text, std::uint32_t kind) {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "name");
  if (!name) return name.error();
  if (auto refused = RefuseReadOnly(*this, AddWhat(*name, container))) return *refused;
  if (!HasContainer(Server(), container)) return NoContainer(AddWhat(*name, container), container);
  return AddKept(*store_, container, *name, kind, {});
}

Result<std::uint32_t> Document::Add(std::uint32_t container, std::u16string_view text, std::uint32_t kind,
                                    const EditOptions& how) {
  if (movedFrom_) return MovedFrom();
  if (std::optional<Error> unkept = RefuseUnkept(text, "name")) return *unkept;
  if (IsReadOnly()) return *RefuseReadOnly(*this, AddWhat(CString(text), container));
  return AddKept(*store_, container, text, kind, how);
}

namespace {

// Adds every name or none: a refusal takes back the names added before it
// and the IDs they drew, and leaves the dirty flag as it was.
Result<std::vector<std::uint32_t>> AddAll(Document::Store& store, std::uint32_t container,
                                          const std::vector<CString>& names, std::uint32_t kind) {
  CNameServer& server = store.Server();
  if (!HasContainer(server, container)) return NoContainer("cannot add names to container " + Num(container), container);
  EditJudge* judge = store.judge.get();
  const std::uint32_t lastIssued = CNameContainer::GetLastIssuedNameID();
  const bool dirty = server.IsDirty();
  std::vector<std::uint32_t> ids;
  ids.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::uint32_t id = 0;
    CNameRefusal why;
    if (judge) judge->Before().BeforeAddName(names[i]);
    const HRESULT hr = server.AddName(id, container, names[i], kind, true, false, &why);
    const bool more = judge && judge->After(hr == S_OK, id);
    if (hr == S_OK) ids.push_back(id);
    if (hr == S_OK && !more) continue;
    const std::string what = AddWhat(names[i], container) + " (name " + std::to_string(i + 1) + " of " +
                             std::to_string(names.size()) + "; none was added)";
    Error error = more ? MoreFindings(what, judge->Findings().size()) : NameRefusal(hr, why, container, names[i], kind, what);
    // mutate: add-many-keeps-partial
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
      if (judge) judge->UndoAdd(server, container, *it);
      else server.DeleteName(container, *it, false);
    // mutate: add-many-spends-ids
    CNameContainer::SetLastIssuedNameID(lastIssued);
    server.SetDirty(dirty);
    return error;
  }
  return ids;
}

}  // namespace

Result<std::vector<std::uint32_t>> Document::AddConverted(std::uint32_t container, Result<std::vector<CString>> names,
                                                          std::uint32_t kind) {
  if (movedFrom_) return MovedFrom();
  if (!names) return names.error();
  if (auto refused = RefuseReadOnly(*this, "cannot add names to container " + Num(container))) return *refused;
  store_->KeepCounterAbove();
  return AddAll(*store_, container, *names, kind);
}

Result<std::vector<std::uint32_t>> Document::AddMany(std::uint32_t container, std::span<const std::string_view> texts,
                                                     std::uint32_t kind) {
  return AddConverted(container, TextsIn(texts), kind);
}

Result<std::vector<std::uint32_t>> Document::AddMany(std::uint32_t container, std::span<const std::string> texts,
                                                     std::uint32_t kind) {
  return AddConverted(container, TextsIn(texts), kind);
}

Result<std::vector<std::uint32_t>> Document::AddMany(std::uint32_t container, std::span<const std::u16string> texts,
                                                     std::uint32_t kind) {
  return AddConverted(container, TextsIn(texts), kind);
}

Result<void> Document::Rename(std::uint32_t id, std::string_view text, std::uint32_t kind) {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "new name");
  if (!name) return name.error();
  return Rename(id, std::u16string_view(*name), kind);
}

Result<void> Document::Rename(std::uint32_t id, std::u16string_view text, std::uint32_t kind) {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "new name");
  if (!name) return name.error();
  if (auto refused = RefuseReadOnly(*this, "cannot rename ID " + Num(id) + " to " + QuotedName(*name))) return *refused;
  if (Result<bool> renamed = RenameKept(*store_, id, *name, kind, {}); !renamed) return renamed.error();
  return {};
}

Result<bool> Document::Rename(std::uint32_t id, std::u16string_view text, std::uint32_t kind, const EditOptions& how) {
  if (movedFrom_) return MovedFrom();
  if (std::optional<Error> unkept = RefuseUnkept(text, "new name")) return *unkept;
  if (auto refused = RefuseReadOnly(*this, "cannot rename ID " + Num(id) + " to " + QuotedName(text))) return *refused;
  return RenameKept(*store_, id, text, kind, how);
}

Result<void> Document::Delete(std::uint32_t id) {
  if (movedFrom_) return MovedFrom();
  CNameServer& server = Server();
  const std::string what = "cannot delete ID " + Num(id);
  if (auto refused = RefuseReadOnly(*this, what)) return *refused;
  const CNameContainer* holder = id == 0 ? nullptr : server.FindContainerOfName(id);
  if (!holder) {
    if (HasContainer(server, id))
      return Error(ErrorKind::kInvalidArgument, E_INVALIDARG,
                   what + ": it is a container; DeleteContainer deletes it with its names and sub-containers");
    return NoName(what, id);
  }
  EditJudge* judge = store_->judge.get();
  if (judge) judge->Before().BeforeDeleteName(id);
  CNameRefusal why;
  const HRESULT hr = server.DeleteName(holder->GetID(), id, true, &why);
  std::optional<Error> refused;
  if (hr != S_OK) refused = Error(KindOf(why.reason), hr, what, "the container refused", why);
  return Judged(judge, hr == S_OK, what, std::move(refused));
}

Result<void> Document::DeleteContainer(std::uint32_t id) {
  if (movedFrom_) return MovedFrom();
  CNameServer& server = Server();
  const std::string what = "cannot delete container " + Num(id);
  if (auto refused = RefuseReadOnly(*this, what)) return *refused;
  if (!HasContainer(server, id)) return NoContainer(what, id);
  EditJudge* judge = store_->judge.get();
  if (judge) judge->Before().BeforeDeleteContainer(id);
  CNameRefusal why;
  const HRESULT hr = server.DeleteContainer(id, true, &why);
  std::optional<Error> refused;
  if (hr != S_OK) refused = Error(KindOf(why.reason), hr, what, "its parent container refused", why);
  return Judged(judge, hr == S_OK, what, std::move(refused));
}

Result<std::u16string> Document::NextName(std::uint32_t container, std::u16string_view base, int digits) {
  Proposal how;
  how.digits = digits;
  return NextName(container, base, how);
}

Result<std::u16string> Document::NextName(std::uint32_t container, std::u16string_view base,
                                          const Proposal& how) {
  if (movedFrom_) return MovedFrom();
  Result<CString> wide = TextIn(base, "base name");
  if (!wide) return wide.error();
  CNameServer& server = Server();
  const std::string what = "cannot propose a name from " + QuotedName(*wide) + " in container " + Num(container);
  if (!HasContainer(server, container)) return NoContainer(what, container);
  CString proposal;
  // mutate: proposal-ignores-own-names-only
  const HRESULT hr = how.ownNamesOnly ? server.GetNextName(container, *wide, how.digits, &proposal)
                                      : server.GetNextAcceptedName(container, *wide, how.digits, how.kind,
                                                                   how.confine, &proposal);
  switch (hr) {
    case S_OK: return proposal;
    case S_FALSE:
      return Error(ErrorKind::kInvalidArgument, hr, what + ": nothing is left of the base to number");
    case E_NAME_INVALID: {
      CNameRefusal why{Reason::kInvalidName, {}, {}};
      server.ExplainInvalidName(*wide, how.kind, &why.rule);
      return Error(ErrorKind::kInvalidName, hr,
                   what + ": no number makes it a valid name; begin the base with a letter and keep it under " +
                       std::to_string(kMaxNameLength) + " characters",
                   why);
    }
    case E_OUTOFMEMORY: return Error(ErrorKind::kOutOfMemory, hr, what + ": out of memory");
    default: {
      const CNameRefusal full{Reason::kFull, {}, {}};
      return Error(ErrorKind::kFull, hr, what + ": " + DescribeNameRefusal(full, container, *wide, 0), full);
    }
  }
}

Result<std::string> Document::NextName(std::uint32_t container, std::string_view base, int digits) {
  if (movedFrom_) return MovedFrom();
  Result<CString> wide = TextIn(base, "base name");
  if (!wide) return wide.error();
  Result<std::u16string> proposal = NextName(container, std::u16string_view(*wide), digits);
  if (!proposal) return proposal.error();
  return ToUtf8(*proposal);
}

Result<NameVerdict> Document::Check(std::uint32_t container, std::string_view text) const {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "name");
  if (!name) return name.error();
  return Check(container, std::u16string_view(*name));
}

Result<NameVerdict> Document::Check(std::uint32_t container, std::u16string_view text) const {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "name");
  if (!name) return name.error();
  if (!HasContainer(Server(), container))
    return NoContainer("cannot check " + QuotedName(*name) + " for container " + Num(container), container);
  return Check(container, std::u16string_view(*name), kOrdinaryName, EditOptions{});
}

Result<NameVerdict> Document::Check(std::uint32_t container, std::u16string_view text, std::uint32_t kind,
                                    const EditOptions& how) const {
  if (movedFrom_) return MovedFrom();
  // As Add takes the text: a lone surrogate is the rule's to judge.
  if (std::optional<Error> unkept = RefuseUnkept(text, "name")) return *unkept;
  const CString name(text);
  NameVerdict verdict;
  CNameRefusal& why = verdict.refusal;
  // mutate: check-ignores-confine
  verdict.status = Server().JudgeAddName(container, name, kind, how.checkDuplicates, how.confine, &why);
  if (why.reason == Reason::kNoContainer)
    return NoContainer("cannot check " + QuotedName(name) + " for container " + Num(container), container);
  verdict.accepted = verdict.status == S_OK;
  if (verdict.accepted) return verdict;
  verdict.reason = DescribeNameRefusal(why, container, name, kind);
  verdict.otherContainer = why.hit.containerID;
  // mutate: verdict-without-holder
  verdict.otherName = why.hit.nameID;
  return verdict;
}

std::optional<CDuplicateHit> Document::Collision(std::uint32_t container, std::u16string_view text,
                                                 bool confine) const {
  CDuplicateHit hit;
  if (movedFrom_ || !Server().FindDuplicate(container, CString(text), confine, &hit)) return std::nullopt;
  return hit;
}

Result<std::vector<NameHit>> Document::Find(std::string_view text) const {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "name");
  if (!name) return name.error();
  return Find(std::u16string_view(*name));
}

Result<std::vector<NameHit>> Document::Find(std::u16string_view text) const {
  if (movedFrom_) return MovedFrom();
  Result<CString> name = TextIn(text, "name");
  if (!name) return name.error();
  std::vector<NameHit> hits;
  const CNameServer& server = Server();
  for (const ContainerRef container : TreeWalk(server)) {
    const CNameContainer& c = container.Container();
    std::uint32_t id = 0;
    if (c.FindIDByName(*name, &id) != S_OK) continue;
    CString held;
    c.FindNameByID(id, &held);
    hits.push_back({container.Id(), id, ToUtf8(held)});
  }
  return hits;
}

TreeWalk Document::Containers() const { return TreeWalk(Server()); }

const std::filesystem::path& Document::Path() const { return store_->File().Path(); }

Result<NameHit> Document::FindId(std::uint32_t id) const {
  const CNameContainer* holder = id == 0 ? nullptr : Server().FindContainerOfName(id);
  CString text;
  if (!holder || holder->FindNameByID(id, &text) != S_OK)
    return Error(ErrorKind::kNotFound, E_FAIL, "no name has ID " + Num(id));
  return NameHit{holder->GetID(), id, ToUtf8(text)};
}

Result<std::uint32_t> Document::FindLabel(std::string_view label) const {
  Result<CString> text = TextIn(label, "label");
  if (!text) return text.error();
  if (std::optional<std::uint32_t> id = store_->File().FindLabel(*text)) return *id;
  return Error(ErrorKind::kNotFound, E_FAIL, "no container has the label " + QuotedName(*text));
}

std::string Document::Label(std::uint32_t container) const {
  const CString* label = store_->File().LabelOf(container);
  return label && HasContainer(Server(), container) ? ToUtf8(*label) : std::string();
}

Result<void> Document::SetLabel(std::uint32_t container, std::string_view label) {
  Result<CString> text = TextIn(label, "label");
  if (!text) return text.error();
  return SetLabel(container, std::u16string_view(*text));
}

// Not through TextIn: the label rule refuses what it would, in its own words.
Result<void> Document::SetLabel(std::uint32_t container, std::u16string_view label) {
  if (movedFrom_) return MovedFrom();
  const std::string what = "cannot label container " + Num(container) + " " + QuotedName(label);
  if (auto refused = RefuseReadOnly(*this, what)) return *refused;
  if (!HasContainer(Server(), container)) return NoContainer(what, container);
  if (!label.empty())
    if (const NameVerdict verdict = CheckLabel(container, label); !verdict)
      return Error(verdict.otherContainer ? ErrorKind::kDuplicate : ErrorKind::kInvalidName, verdict.status,
                   what + ": " + verdict.reason);
  if (FileError failed = store_->File().SetLabel(container, CString(label)))
    return Error(ErrorKind::kFailed, E_FAIL, what + ": " + failed.message);
  Server().SetDirty(true);
  return {};
}

NameVerdict Document::CheckLabel(std::uint32_t container, std::u16string_view label) const {
  NameVerdict verdict;
  if (movedFrom_) {
    verdict.status = E_FAIL;
    verdict.reason = MovedFrom().message();
    return verdict;
  }
  std::uint32_t holder = 0;
  const FileError refused = store_->File().JudgeLabel(container, label, &holder);
  verdict.accepted = !refused;
  if (refused) {
    verdict.status = holder ? E_NAME_DUPLICATE : E_NAME_INVALID;
    verdict.reason = refused.message;
    verdict.otherContainer = holder;
  }
  return verdict;
}

std::vector<std::uint32_t> Document::LabelHolders(std::u16string_view label) const {
  if (movedFrom_) return {};
  std::pair<std::uint32_t, std::uint32_t> twice{0, 0};
  if (std::optional<std::uint32_t> id = store_->File().FindLabel(label, &twice)) return {*id};
  // mutate: label-holders-hide-twice
  if (twice.first) return {twice.first, twice.second};
  return {};
}

std::u16string Document::Label16(std::uint32_t container) const {
  if (movedFrom_) return {};
  const CString* label = store_->File().LabelOf(container);
  return label && HasContainer(Server(), container) ? *label : std::u16string();
}

std::vector<std::pair<std::uint32_t, std::u16string>> Document::Labels16() const {
  if (movedFrom_) return {};
  return store_->File().Labels();
}

std::vector<std::pair<std::uint32_t, std::string>> Document::Labels() const {
  std::vector<std::pair<std::uint32_t, std::string>> out;
  for (const auto& [id, text] : store_->File().Labels()) out.emplace_back(id, ToUtf8(text));
  return out;
}

std::string Document::CheckInvariants() const { return store_->File().CheckInvariants(); }

std::vector<std::string> Document::Keywords() const {
  std::vector<std::string> out;
  for (const CString& word : store_->File().StoredKeywords()) out.push_back(ToUtf8(word));
  return out;
}

namespace {

Result<std::size_t> KeepKeywords(Document& doc, DocumentFile& file, std::vector<CString> words) {
  if (auto refused = RefuseReadOnly(doc, "cannot keep keywords")) return *refused;
  std::vector<CString> kept = file.StoredKeywords();
  const std::size_t before = kept.size();
  for (CString& word : words) {
    if (word.empty()) return Error(ErrorKind::kInvalidArgument, E_INVALIDARG, "cannot keep keywords: a word is empty");
    const bool held = std::any_of(kept.begin(), kept.end(), [&](const CString& k) { return CompareNoCase(k, word) == 0; });
    if (!held) kept.push_back(std::move(word));
  }
  const std::size_t added = kept.size() - before;
  if (added == 0) return added;
  file.SetStoredKeywords(std::move(kept));
  doc.Server().SetDirty(true);
  return added;
}

}  // namespace

Result<std::size_t> Document::AddKeywords(std::span<const std::string_view> words) {
  Result<std::vector<CString>> wide = TextsIn(words);
  if (!wide) return wide.error();
  return KeepKeywords(*this, store_->File(), std::move(*wide));
}

std::vector<std::u16string> Document::Keywords16() const {
  if (movedFrom_) return {};
  return store_->File().StoredKeywords();
}

Result<bool> Document::KeepKeyword(std::u16string_view word) {
  if (movedFrom_) return MovedFrom();
  if (auto refused = RefuseReadOnly(*this, "cannot keep keywords")) return *refused;
  bool added = false;
  if (FileError refused = store_->File().KeepKeyword(CString(word), &added))
    return Error(ErrorKind::kInvalidName, E_NAME_INVALID, refused.message);
  if (added) Server().SetDirty(true);
  return added;
}

Result<void> Document::SetKeywords(std::vector<std::u16string> words) {
  if (movedFrom_) return MovedFrom();
  if (auto refused = RefuseReadOnly(*this, "cannot keep keywords")) return *refused;
  store_->File().SetStoredKeywords(std::move(words));
  Server().SetDirty(true);
  return {};
}

NameProfile Document::Profile() const { return movedFrom_ ? NameProfile::kClassic : store_->File().StoredProfile(); }

Result<void> Document::SetProfile(NameProfile profile) {
  if (movedFrom_) return MovedFrom();
  if (auto refused = RefuseReadOnly(*this, "cannot keep the name profile")) return *refused;
  store_->File().SetStoredProfile(profile);
  Server().SetDirty(true);
  return {};
}

bool Document::ExplainNameRule(const CString& name, std::uint32_t kind, CNameRuleViolation* why,
                               std::uint32_t* serverKind) const {
  if (movedFrom_) {
    *serverKind = kind;
    return Server().ExplainInvalidName(name, kind, why);
  }
  return store_->File().ExplainNameRule(name, kind, why, serverKind);
}

const ImportOrigins* Document::Origins() const { return movedFrom_ ? nullptr : store_->File().Origins(); }

Result<void> Document::SetOrigins(ImportOrigins origins) {
  if (movedFrom_) return MovedFrom();
  if (auto refused = RefuseReadOnly(*this, "cannot keep where its names came from")) return *refused;
  store_->File().SetOrigins(std::move(origins));
  Server().SetDirty(true);
  return {};
}

Result<std::size_t> Document::AddKeywordSet(std::string_view set) {
  const std::span<const std::u16string_view> words = KeywordSet(set);
  if (words.empty())
    return Error(ErrorKind::kNotFound, E_INVALIDARG, "no built-in keyword set is called \"" + std::string(set) + "\"");
  return KeepKeywords(*this, store_->File(), std::vector<CString>(words.begin(), words.end()));
}

bool Document::IsContainer(std::uint32_t id) const { return HasContainer(Server(), id); }

Result<bool> Document::Reserve(std::u16string_view word) {
  if (movedFrom_) return MovedFrom();
  const CString text(word);
  EditJudge* judge = store_->judge.get();
  if (judge) judge->Before().BeforeKeyword(text);
  const bool added = Server().AddKeyword(text) == S_OK;
  if (Result<void> judged = Judged(judge, true, "cannot reserve " + QuotedName(text), std::nullopt); !judged)
    return judged.error();
  return added;
}

DocumentCheckOptions Document::CheckOptions() const {
  DocumentCheckOptions options;
  // mutate: edit-check-ignores-profile-single
  options.profile = Profile();
  options.useStoredLastID = true;
  options.storedLastID = StoredLastIssuedId();
  return options;
}

void Document::JudgeEdits(const DocumentCheckOptions& options, bool strict) {
  if (!store_) store_ = Store::InMemory();
  store_->judge = std::make_unique<EditJudge>(store_->Server(), options, strict);
}

std::vector<DocumentFinding> Document::LastFindings() const {
  if (!store_ || !store_->judge) return {};
  return store_->judge->Findings();
}

bool Document::KeepsRefusedEdit() const { return store_ && store_->judge && store_->judge->Kept(); }

std::uint32_t Document::StoredLastIssuedId() const { return Server().GetStoredLastIssuedID(); }

std::uint32_t Document::HighestId() const { return Server().GetHighestID(); }

bool Document::RaiseLastIssuedId() {
  const std::uint32_t highest = HighestId();
  // mutate: repair-raises-always
  if (StoredLastIssuedId() >= highest) return false;
  // Never lowered: another document of the process may have issued more.
  CNameContainer::SetLastIssuedNameID(std::max(CNameContainer::GetLastIssuedNameID(), highest));
  Server().SetDirty(true);
  return true;
}

Result<ContainerRef> Document::Container(std::uint32_t id) const {
  if (IsContainer(id)) return *FindContainer(id);
  return NoContainer("no such container", id);
}

std::uint32_t Document::HolderOf(std::uint32_t id, std::u16string* text) const {
  const CNameContainer* holder = id == 0 ? nullptr : Server().FindContainerOfName(id);
  if (!holder) return 0;
  if (text) holder->FindNameByID(id, text);
  return holder->GetID();
}

}  // namespace nametree
