#include "support/model_driver.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>

#include "nametree/memory_storage.h"
#include "nametree/name_container.h"
#include "nametree/name_server.h"
#include "nametree/notification.h"
#include "nametree/storage.h"
#include "support/classic_model.h"

namespace nametree::modeldiff {

namespace {

using model::Text;
using Ids = std::vector<std::uint32_t>;
using R = std::array<std::uint32_t, 6>;
constexpr std::uint32_t kUnwrittenID = 0xFFFFFFFFu;
const Text kUnwritten(1, u'\uFFFF');

// Keys of one text bucket, many: upper-case words whose hash is equal
// modulo the name tables' bucket count, so that their chain grows long.
const std::vector<Text>& OneBucketWords() {
  static const std::vector<Text> words = [] {
    std::vector<Text> out;
    for (char16_t a = u'A'; a <= u'Z'; ++a)
      for (char16_t b = u'A'; b <= u'Z'; ++b)
        for (char16_t c = u'A'; c <= u'Z'; ++c)
          for (char16_t d = u'A'; d <= u'Z'; ++d) {
            const Text w{u'Q', a, b, c, d};
            std::uint32_t h = 0;
            for (char16_t u : w) h = h * 33 + u;
            if (h % 13513 == 4242) out.push_back(w);
          }
    return out;
  }();
  return words;
}

// Families of texts equal ignoring case crowd the keys; the rest exercise
// the name rule, keywords and proposals.
const std::vector<Text> kCrowded = {u"Pump", u"pump", u"PUMP", u"pumP", u"Fan10", u"fan10", u"FAN10",
                                    u"\u03C9\u03A9", u"\u03A9\u03A9", u"\u03A9\u03C9", u"\u03C9\u03C9", u"\u00E4b",
                                    u"\u00C4B"};
const std::vector<Text> kOther = {u"Valve", u"valve", u"Pump1", u"PUMP2", u"pump3", u"Begin", u"begin", u"_x",
                                  u"__", u"1abc", u"a b", u"Motor-1", u"", u"AB", u"B", u"A", u"Motor_1",
                                  u"Q00551", u"Q00G9Q",  // equal in the low 32 bits of the index's hash
                                  u"Abcdefghijabcdefghijabcdefghijab",    // 32 units
                                  u"Abcdefghijabcdefghijabcdefghijabc"};  // 33 units
constexpr std::int16_t kTypes[] = {0, 2, 3, 4, 1, 0, 2, 3};

Text PickText(std::uint32_t r) {
  const auto& from = r % 10 < 6 ? kCrowded : kOther;
  return from[(r / 10) % from.size()];
}

// The same text with the case of each letter chosen by the bits of r.
Text CaseVariant(Text text, std::uint32_t r) {
  for (std::size_t i = 0; i < text.size(); ++i, r = r * 1103515245u + 12345u) {
    char16_t lower = text[i] >= u'A' && text[i] <= u'Z' ? static_cast<char16_t>(text[i] - u'A' + u'a') : text[i];
    for (auto [l, u] : model::kExtraLetters) lower = lower == u ? l : lower;
    text[i] = (r >> 16) & 1 ? model::Upper(Text(1, text[i]))[0] : lower;
  }
  return text;
}

// --- the op log and the compared answers, as text

std::string Str(const std::string& s) { return s; }
std::string Str(const char* s) { return s; }
std::string Str(bool b) { return b ? "true" : "false"; }
template <class T>
  requires std::is_integral_v<T>
std::string Str(T v) { return std::to_string(v); }
std::string Str(const Text& text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[12];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out + "\"";
}
template <class T>
std::string Str(const std::vector<T>& list) {
  std::string out = "[";
  for (const T& v : list) out += (out.size() > 1 ? " " : "") + Str(v);
  return out + "]";
}
std::string Hr(HRESULT hr) { return StatusName(hr); }
template <class... A>
std::string Say(const A&... a) {
  std::string out;
  ((out += (out.empty() ? "" : " ") + Str(a)), ...);
  return out;
}

struct Seen {
  Text name;
  std::uint32_t containerID, nameID;
  Text oldName, newName;
};
std::string Str(const Seen& p) { return Say(p.name, p.containerID, p.nameID, p.oldName, p.newName); }

ComPtr<IStorage> StorageHolding(const std::optional<std::vector<std::uint8_t>>& bytes) {
  ComPtr<IStorage> storage = CreateMemoryStorage();
  if (bytes) {
    ComPtr<IStream> stream;
    storage->CreateStream(u"NameServer", kCreateMode, stream.Put());
    std::uint32_t written = 0;
    if (!bytes->empty()) stream->Write(bytes->data(), static_cast<std::uint32_t>(bytes->size()), &written);
  }
  return storage;
}

// A "NameServer" stream that holds names under shared keys and, sometimes,
// one ID twice; every ID lies above `last`, so appending it collides with
// nothing the server holds.
std::vector<std::uint8_t> CraftStream(std::uint32_t seed, std::uint32_t last) {
  std::mt19937 rng(seed);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  std::vector<std::uint8_t> out;
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  std::uint32_t next = last + 1 + pick(40);
  std::function<void(int)> record = [&](int depth) {
    put(1, 2);
    put(next++, 4);
    put(static_cast<std::uint16_t>(kTypes[pick(5)]), 2);
    const std::uint32_t names = 1 + pick(5);
    put(names, 2);
    std::uint32_t previous = 0;
    for (std::uint32_t i = 0; i < names; ++i) {
      const std::uint32_t id = previous && pick(4) == 0 ? previous : next++ + pick(3) * 16;
      next = std::max(next, id + 1);
      previous = id;
      const Text text = pick(3) ? CaseVariant(u"Pump", rng()) : PickText(rng());
      put(id, 4);
      put(static_cast<std::uint32_t>(text.size() * 2 + 2), 4);
      for (char16_t c : text) put(c, 2);
      put(0, 2);
    }
    const std::uint32_t subs = depth < 2 ? pick(3) : 0;
    put(subs, 2);
    for (std::uint32_t i = 0; i < subs; ++i) record(depth + 1);
  };
  put(1, 2);
  const std::uint32_t tops = 1 + pick(2);
  put(tops, 2);
  for (std::uint32_t i = 0; i < tops; ++i) record(0);
  put(next + pick(3), 4);
  return out;
}

class Runner {
 public:
  explicit Runner(bool survey) : survey_(survey) {
    CNameContainer::SetLastIssuedNameID(0);
    model::LastIssued() = 0;
    manager_.Subscribe([this](const CNotification& n) {
      const CNotificationPayload& p = *n.Payload();
      if (n.Sender() != lib_.get() || p.reserved1 != 0 || p.reserved2 != 0)
        bad_ += " a record with a wrong sender or reserved word;";
      seen_.push_back({n.Name(), p.containerID, p.nameID, p.oldName, p.newName});
    });
    Fresh();
  }

  Outcome Go(const std::vector<Command>& commands);

 private:
  struct Op {
    const char* name;
    int weight;
    void (Runner::*run)(const R&);
  };

 public:
  static const Op kOps[];
  static const int kOpCount;

 private:
  void Fresh() {
    lib_ = std::make_unique<CNameServer>();
    lib_->Initialize(&manager_);
    mod_ = model::Server();
  }

  // --- resolving selectors against the model

  std::vector<model::Container*> Containers() const {
    std::vector<model::Container*> out;
    std::function<void(model::Container*)> visit = [&](model::Container* c) {
      out.push_back(c);
      c->subs.Walk([&](const std::uint32_t&, const std::unique_ptr<model::Container>& child) { visit(child.get()); });
    };
    for (const auto& top : mod_.tops) visit(top.get());
    return out;
  }

  // Any container ID, 0, or one that names no container.
  std::uint32_t PickContainerID(std::uint32_t r) const {
    const auto all = Containers();
    const std::uint32_t n = static_cast<std::uint32_t>(all.size()), k = r % (n + 2);
    return k < n ? all[k]->id : k == n ? 0 : 0x00ABCDEF;
  }

  model::Container* PickContainer(std::uint32_t r) const {
    const auto all = Containers();
    return all.empty() ? nullptr : all[r % all.size()];
  }
  std::uint32_t IdOf(const model::Container* c) const { return c ? c->id : 0; }

  // A name ID the container holds (when it holds any), one held elsewhere,
  // 0, or an ID drawn already.
  std::uint32_t PickNameID(std::uint32_t r, const model::Container* in) const {
    if (r % 8 == 0) return 0;
    const std::uint32_t drawn = 1 + (r / 8) % std::max<std::uint32_t>(model::LastIssued(), 1);
    if (r % 8 == 1) return drawn;
    Ids ids;
    auto take = [&](const std::uint32_t& id, const Text&) { ids.push_back(id); };
    if (in) in->byID.Walk(take);
    if (r % 8 < 4)
      for (model::Container* c : Containers()) c->byID.Walk(take);
    return ids.empty() ? drawn : ids[(r / 8) % ids.size()];
  }

  // A new text for a rename: any text, a case variant of the name's own
  // text, or a case variant of another name of the same container.
  Text PickNewText(std::uint32_t r, const model::Container* c, const Text& current) const {
    if (r % 3 == 1 && !current.empty()) return CaseVariant(current, r / 3);
    if (r % 3 == 2 && c && c->byID.Size() > 0) {
      const std::vector<Text> texts = c->AllNames();
      return CaseVariant(texts[(r / 3) % texts.size()], r / 7);
    }
    return PickText(r / 3);
  }

  // An old text for a rename by text: mostly a case variant of one the
  // container holds.
  Text PickOldText(std::uint32_t r, const model::Container* c) const {
    if (!c || c->byID.Size() == 0 || r % 4 == 0) return PickText(r);
    const std::vector<Text> texts = c->AllNames();
    return CaseVariant(texts[(r / 4) % texts.size()], r / 9);
  }

  // --- comparing

  template <class... A>
  void Call(const char* name, const A&... args) {
    call_ = std::string(name) + "(" + Say(args...) + ")";
    out_.calls.push_back(call_);
  }

  void Expect(const std::string& aspect, const std::string& lib, const std::string& mod) {
    if (out_.difference.empty() && lib != mod) Fail("library: " + lib + "\n  model:   " + mod, aspect);
  }

  void Fail(const std::string& what, const std::string& aspect) {
    if (!out_.difference.empty()) return;
    out_.difference = call_ + "\n  " + what;
    out_.kind = aspect;
  }

  // A name list that the model leaves open: each delivered entry must be
  // one of the container's, none twice.
  static std::string CheckOpenList(const Ids* ids, const std::vector<Text>& names, const model::Container& c) {
    std::set<std::pair<std::uint32_t, Text>> allowed, used;
    std::set<Text> allowedNames;
    for (auto& entry : c.AllNamesAndIDs()) allowed.insert(entry), allowedNames.insert(entry.second);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == kUnwritten) continue;
      const bool ok = ids ? allowed.count({(*ids)[i], names[i]}) && used.insert({(*ids)[i], names[i]}).second
                          : allowedNames.count(names[i]) != 0;
      if (!ok) return "entry " + Str(i) + " is not one of its names";
    }
    return "entries ok";
  }

  // Both trees, container by container in walk order.
  std::string Survey(CNameContainer& lib, const model::Container& mod, const std::string& where) {
    const std::size_t count = static_cast<std::size_t>(lib.GetNumNames());
    std::string diff;
    auto check = [&](const char* what, const std::string& l, const std::string& m) {
      if (diff.empty() && l != m) diff = where + " " + what + ": library " + l + ", model " + m;
      return diff.empty();
    };
    if (!check("ID, type, parent, GetNumNames",
               Say(lib.GetID(), static_cast<std::uint16_t>(lib.GetContainerType()), lib.GetParentID(), count),
               Say(mod.id, static_cast<std::uint16_t>(mod.type), mod.GetParentID(), mod.GetNumNames())))
      return diff;
    Ids ids(count + 2, kUnwrittenID), modIDs = mod.AllIDs();
    lib.GetAllIDsInContainer(ids.data());
    modIDs.resize(count + 2, kUnwrittenID);
    check("GetAllIDsInContainer", Str(ids), Str(modIDs));
    std::vector<Text> names(count + 2, kUnwritten), modNames;
    Ids pairIDs(count + 2, kUnwrittenID);
    lib.GetAllNameAndIDsInContainer(names.data(), pairIDs.data());
    if (mod.ListsOpen()) {
      check("GetAllNameAndIDsInContainer", CheckOpenList(&pairIDs, names, mod), "entries ok");
      check("overrun", Say(names[count], names[count + 1]), Say(kUnwritten, kUnwritten));
    } else {
      modIDs.clear();
      for (auto& [id, text] : mod.AllNamesAndIDs()) modIDs.push_back(id), modNames.push_back(text);
      modIDs.resize(count + 2, kUnwrittenID);
      modNames.resize(count + 2, kUnwritten);
      check("GetAllNameAndIDsInContainer", Str(pairIDs) + Str(names), Str(modIDs) + Str(modNames));
    }
    Ids subIDs(static_cast<std::size_t>(std::max(lib.GetNumSubContainers(), 0)));
    if (!check("GetNumSubContainers", Str(subIDs.size()), Str(mod.subs.Size()))) return diff;
    lib.GetSubContainerIDs(subIDs.data());
    if (!check("GetSubContainerIDs", Str(subIDs), Str(mod.SubContainerIDs()))) return diff;
    mod.subs.Walk([&](const std::uint32_t& id, const std::unique_ptr<model::Container>& child) {
      if (!diff.empty()) return;
      CNameContainer* libChild = lib.FindContainer(id);
      if (!libChild) diff = where + "/" + Str(id) + " is not a child in the library";
      else diff = Survey(*libChild, *child, where + "/" + Str(id));
    });
    return diff;
  }

  void AfterStep(const char* op) {
    const bool wasClean = out_.difference.empty();
    if (!bad_.empty()) Fail("notification record:" + bad_, "notification record");
    bad_.clear();
    std::vector<Seen> modPosts;
    for (const auto& p : mod_.posted) modPosts.push_back({p.name, p.containerID, p.nameID, p.oldName, p.newName});
    if (!notificationsOpen_) Expect("notifications", Str(seen_), Str(modPosts));
    seen_.clear();
    mod_.posted.clear();
    notificationsOpen_ = false;
    Expect("dirty flag", Str(lib_->IsDirty()), Str(mod_.dirty));
    Expect("ID counter", Str(CNameContainer::GetLastIssuedNameID()), Str(model::LastIssued()));
    const std::string broken = lib_->CheckInvariants();
    if (!broken.empty()) Fail("CheckInvariants: " + broken, "CheckInvariants");
    const auto libTops = lib_->GetTopLevelContainers();
    Expect("top-level list", Str(libTops.size()), Str(mod_.tops.size()));
    for (std::size_t i = 0; survey_ && libTops.size() == mod_.tops.size() && i < libTops.size(); ++i) {
      const std::string diff = Survey(*libTops[i], *mod_.tops[i], "top " + Str(i) + " (" + Str(mod_.tops[i]->id) + ")");
      if (!diff.empty()) Fail("after the call, " + diff, "tree after the call");
    }
    if (wasClean && !out_.difference.empty()) out_.kind += std::string(" after ") + op;
    for (const auto& c : Containers()) out_.reached.sharedKey |= c->HoldsSharedKey();
  }

  void NoteRename(HRESULT hr, const model::Container* c, const Text& before, const Text& after, std::uint32_t id) {
    if (hr != S_OK || !c) return;
    if (before != after && model::Upper(before) == model::Upper(after)) out_.reached.caseOnlyRename = true;
    std::uint32_t holder = 0;
    if (c->FindIDByName(after, &holder) != S_OK || holder != id) return;
    for (auto& [otherID, text] : c->AllNamesAndIDs())
      if (otherID != id && model::Upper(text) == model::Upper(after)) out_.reached.ontoHeldKey = true;
  }

  // Load into a fresh server pair, or appended to the present one.
  void Load(const std::optional<std::vector<std::uint8_t>>& bytes, bool fresh) {
    if (fresh) Fresh();
    Call("Load", fresh ? "into a fresh server" : "", bytes ? Str(bytes->size()) + " bytes" : "no stream");
    ComPtr<IStorage> storage = StorageHolding(bytes);
    const HRESULT hr = lib_->Load(storage.Get()), mhr = mod_.Load(bytes);
    Expect("Load", Hr(hr), Hr(mhr));
    if (mhr == S_OK && bytes)
      for (const auto& c : Containers()) out_.reached.loadedDuplicate |= c->HoldsSharedKey() || c->ListsOpen();
  }

  // --- the commands through the server

  void AddContainer(const R& r) {
    const std::uint32_t parent = r[0] % 3 == 0 ? 0 : PickContainerID(r[0] / 3);
    const std::int16_t type = kTypes[r[1] % 8];
    Call("AddContainer", parent, type);
    Expect("AddContainer", Str(lib_->AddContainer(parent, type)), Str(mod_.AddContainer(parent, type)));
  }

  void DeleteContainer(const R& r) {
    const std::uint32_t id = PickContainerID(r[0]);
    const bool notify = r[1] % 4 != 0;
    Call("DeleteContainer", id, notify);
    Expect("DeleteContainer", Hr(lib_->DeleteContainer(id, notify)), Hr(mod_.DeleteContainer(id, notify)));
  }

  void AddName(const R& r) {
    const std::uint32_t c = PickContainerID(r[0]), kind = r[2] % 3 == 0 ? 1 : 0;
    const Text text = PickText(r[1]);
    const bool check = r[3] % 2 == 0, confine = r[4] % 2 == 0, fiveArgs = r[5] % 2 == 0 && !confine;
    Call(fiveArgs ? "AddName without confine" : "AddName", c, text, kind, check, confine);
    std::uint32_t libID = 0xEEEEEEEE, modID = 0xEEEEEEEE;
    const HRESULT hr = fiveArgs ? lib_->AddName(libID, c, text, kind, check)
                                : lib_->AddName(libID, c, text, kind, check, confine);
    const HRESULT mhr = mod_.AddName(modID, c, text, kind, check, confine);
    Expect("AddName", Hr(hr) + Say(libID), Hr(mhr) + Say(modID));
  }

  void DeleteName(const R& r) {
    model::Container* in = PickContainer(r[0]);
    const std::uint32_t c = r[1] % 6 == 0 ? PickContainerID(r[1] / 6) : IdOf(in), id = PickNameID(r[2], in);
    const bool notify = r[3] % 4 != 0;
    Call("DeleteName", c, id, notify);
    notificationsOpen_ = !mod_.GetContainer(c);
    Expect("DeleteName", Hr(lib_->DeleteName(c, id, notify)), Hr(mod_.DeleteName(c, id, notify)));
  }

  void RenameByID(const R& r) {
    model::Container* in = PickContainer(r[0]);
    const std::uint32_t id = PickNameID(r[2], in);
    const std::uint32_t c = r[1] % 4 == 0 ? 0 : r[1] % 4 == 1 ? PickContainerID(r[1] / 4) : IdOf(in);
    model::Container* holder = c ? mod_.GetContainer(c) : mod_.FindContainerOfName(id);
    Text current;
    if (holder) holder->FindNameByID(id, &current);
    const Text text = PickNewText(r[3], holder, current);
    const std::uint32_t kind = r[4] % 4 == 0 ? 1 : 0;
    const bool notify = r[5] % 5 != 0, confine = r[5] % 3 == 0;
    Call("Rename", c, id, text, kind, notify, confine);
    const HRESULT mhr = mod_.Rename(c, id, text, kind, notify, confine);
    Expect("Rename by ID", Hr(lib_->Rename(c, id, text, kind, notify, confine)), Hr(mhr));
    NoteRename(mhr, holder, current, text, id);
  }

  void RenameByText(const R& r) {
    model::Container* in = PickContainer(r[0]);
    const std::uint32_t c = r[1] % 6 == 0 ? PickContainerID(r[1] / 6) : IdOf(in), kind = r[4] % 4 == 0 ? 1 : 0;
    const Text old = PickOldText(r[2], in), text = PickNewText(r[3], in, old);
    const bool notify = r[5] % 5 != 0, confine = r[5] % 3 == 0;
    Call("Rename", c, old, text, kind, notify, confine);
    Expect("Rename by text", Hr(lib_->Rename(c, old, text, kind, notify, confine)),
           Hr(mod_.Rename(c, old, text, kind, notify, confine)));
  }

  void GetNextName(const R& r) {
    static const Text kBases[] = {u"Pump", u"pump", u"Fan", u"Pump-A", u"--", u"\u03C9",
                                  u"Abcdefghijabcdefghijabcdefghij", u"Abcdefghijabcdefghijabcdefghijab"};
    static constexpr int kDigits[] = {0, 0, 1, 2, 3, -3};
    const std::uint32_t c = r[0] % 8 == 0 ? PickContainerID(r[0] / 8) : IdOf(PickContainer(r[0]));
    const Text base = kBases[r[1] % 8];
    const int digits = kDigits[r[2] % 6];
    Call("GetNextName", c, base, digits);
    Text libResult = u"junk", modResult = u"junk";
    const HRESULT hr = lib_->GetNextName(c, base, digits, &libResult);
    const HRESULT mhr = mod_.GetNextName(c, base, digits, &modResult);
    Expect("GetNextName", Hr(hr) + Say(libResult), Hr(mhr) + Say(modResult));
  }

  void AddKeyword(const R& r) {
    static const Text kWords[] = {u"begin", u"BEGIN", u"Fan10", u"\u03C9\u03C9", u"Pump"};
    const Text word = kWords[r[0] % 5];
    Call("AddKeyword", word);
    Expect("AddKeyword", Hr(lib_->AddKeyword(word)), Hr(mod_.AddKeyword(word)));
  }

  void SaveAndReload(const R& r) {
    ComPtr<IStorage> storage = CreateMemoryStorage();
    Call("Save");
    const HRESULT hr = lib_->Save(storage.Get());
    std::vector<std::uint8_t> bytes;
    ComPtr<IStream> stream;
    if (storage->OpenStream(u"NameServer", kOpenMode, stream.Put()) >= 0) bytes = MemoryStreamBytes(stream.Get());
    const std::vector<std::uint8_t> modBytes = mod_.Save();
    Expect("Save bytes", Hr(hr) + Say(bytes), "S_OK" + Say(modBytes));
    if (r[0] % 3 == 0) return;
    std::optional<std::vector<std::uint8_t>> load = modBytes;
    if (r[1] % 5 == 0) load->resize(load->size() * (r[1] / 5 % 100) / 100);
    if (r[1] % 17 == 1) load.reset();
    Load(load, r[2] % 4 != 0);
  }

  // Into a fresh server the stream's IDs need not clear the present ones.
  void LoadCrafted(const R& r) {
    const bool fresh = r[1] % 2 == 0;
    Load(CraftStream(r[0], fresh ? 0 : model::LastIssued()), fresh);
  }

  void SetDirty(const R& r) {
    Call("SetDirty", r[0] % 2 == 0);
    lib_->SetDirty(r[0] % 2 == 0);
    mod_.dirty = r[0] % 2 == 0;
  }

  // --- the commands straight to a container the server hands out

  // Runs a direct command on one container, on both sides, when there is one.
  template <void (Runner::*F)(const R&, model::Container*, CNameContainer*)>
  void Direct(const R& r) {
    model::Container* mc = PickContainer(r[0]);
    if (!mc) return;
    CNameContainer* lc = lib_->GetContainer(mc->id);
    const model::Container* found = mod_.GetContainer(mc->id);
    if (!lc != !found) Call("GetContainer", mc->id), Expect("GetContainer", Str(lc != nullptr), Str(found != nullptr));
    if (lc && found == mc && lc->GetID() == mc->id) (this->*F)(r, mc, lc);
  }

  void DirectAddName(const R& r, model::Container* mc, CNameContainer* lc) {
    const Text text = PickText(r[1]);
    Call("container AddName", mc->id, text);
    Expect("container AddName", Str(lc->AddName(text)), Str(mc->AddName(text)));
  }

  void DirectAddNameFromData(const R& r, model::Container* mc, CNameContainer* lc) {
    const std::uint32_t id =
        r[2] % 3 == 0 ? PickNameID(r[3], mc) : 1 + r[3] % std::max<std::uint32_t>(model::LastIssued(), 1);
    const Text text = r[1] % 2 ? PickText(r[1] / 2) : PickNewText(r[4], mc, u"Pump");
    Call("container AddNameFromData", mc->id, id, text);
    Expect("container AddNameFromData", Hr(lc->AddNameFromData(id, text, 0)), Hr(mc->AddNameFromData(id, text)));
  }

  void DirectDeleteName(const R& r, model::Container* mc, CNameContainer* lc) {
    const std::uint32_t id = PickNameID(r[1], mc);
    Call("container DeleteName", mc->id, id);
    Expect("container DeleteName", Hr(lc->DeleteName(id)), Hr(mc->DeleteName(id)));
  }

  void DirectRenameByID(const R& r, model::Container* mc, CNameContainer* lc) {
    const std::uint32_t id = PickNameID(r[1], mc);
    Text current;
    mc->FindNameByID(id, &current);
    const Text text = r[3] % 11 == 0 ? Text() : PickNewText(r[2], mc, current);
    Call("container Rename", mc->id, id, text);
    const HRESULT mhr = mc->Rename(id, text);
    Expect("container Rename by ID", Hr(lc->Rename(id, text)), Hr(mhr));
    NoteRename(mhr, mc, current, text, id);
  }

  void DirectRenameByText(const R& r, model::Container* mc, CNameContainer* lc) {
    const Text old = PickOldText(r[1], mc), text = PickNewText(r[2], mc, old);
    std::uint32_t id = 0;
    Text current;
    if (mc->FindIDByName(old, &id) == S_OK) mc->FindNameByID(id, &current);
    Call("container Rename", mc->id, old, text);
    const HRESULT mhr = mc->Rename(old, text);
    Expect("container Rename by text", Hr(lc->Rename(old, text)), Hr(mhr));
    NoteRename(mhr, mc, current, text, id);
  }

  void SetContainerType(const R& r, model::Container* mc, CNameContainer* lc) {
    const std::int16_t type = kTypes[r[1] % 5];
    Call("container SetContainerType", mc->id, type);
    lc->SetContainerType(type);
    mc->type = type;
  }

  void ResetContainer(const R&, model::Container* mc, CNameContainer* lc) {
    Call("container ResetContainer", mc->id);
    lc->ResetContainer();
    mc->byID.Clear();
    mc->byName.Clear();
  }

  void DirectDeleteContainer(const R& r, model::Container* mc, CNameContainer* lc) {
    const Ids subs = mc->SubContainerIDs();
    const std::uint32_t id = r[1] % 4 == 0 || subs.empty() ? PickContainerID(r[1] / 4) : subs[(r[1] / 4) % subs.size()];
    Call("container DeleteContainer", mc->id, id);
    Expect("container DeleteContainer", Hr(lc->DeleteContainer(id)), Hr(mc->DeleteContainer(id)));
  }

  // --- the record and FromData entries, which may repeat IDs and leave a
  // child whose parent is none

  // A kid of the container in table order, on both sides, or none.
  std::pair<model::Container*, CNameContainer*> Kid(std::uint32_t r, model::Container* mc, CNameContainer* lc) {
    const Ids subs = mc->SubContainerIDs();
    if (subs.empty()) return {nullptr, nullptr};
    const std::uint32_t id = subs[r % subs.size()];
    return {mc->subs.Find(id)->get(), lc->FindContainer(id)};
  }
  std::uint32_t AnyID(std::uint32_t r) const { return 1 + r % (model::LastIssued() + 2); }

  // A copy of some subtree, often the container's own, merged in under an ID.
  void LoadRecord(const R& r, model::Container* mc, CNameContainer* lc) {
    model::Container* ms = r[1] % 2 ? mc : PickContainer(r[2]);
    CNameContainer* ls = lib_->GetContainer(ms->id);
    if (Containers().size() > 40 || !ls || mod_.GetContainer(ms->id) != ms) return;
    Call("container Save and Load", ms->id, mc->id);
    ComPtr<IStream> stream = CreateMemoryStream();
    const HRESULT hr = ls->Save(stream.Get());
    std::vector<std::uint8_t> bytes = MemoryStreamBytes(stream.Get()), modBytes;
    ms->Save(modBytes);
    Expect("container Save", Hr(hr) + Say(bytes), "S_OK" + Say(modBytes));
    const std::uint32_t id = AnyID(r[3]);
    for (int i = 0; i < 4; ++i) modBytes[2 + i] = static_cast<std::uint8_t>(id >> (8 * i));
    Expect("container Load", Hr(lc->Load(CreateMemoryStream(modBytes).Get())), Hr(mc->Load(modBytes)));
  }

  // The container or one of its kids made anew under an ID; a kid may be
  // given its parent back.
  void CreateFromData(const R& r, model::Container* mc, CNameContainer* lc) {
    auto [mk, lk] = Kid(r[1], mc, lc);
    if (!mk || !lk || r[2] % 2) mk = mc, lk = lc;
    const std::uint32_t id = AnyID(r[3]);
    const std::int16_t type = kTypes[r[4] % 5];
    Call("container CreateContainerFromData", mk->id, id, type);
    Expect("container CreateContainerFromData", Hr(lk->CreateContainerFromData(id, type)),
           Hr(mk->CreateContainerFromData(id, type)));
    if (mk == mc || r[5] % 2) return;
    Call("container SetParent", mk->id, mc->id);
    lk->SetParent(lc);
    mk->parent = mc;
  }

  void AddFromData(const R& r, model::Container* mc, CNameContainer* lc) {
    // Never 0: no lookup finds a child held under it.
    const std::uint32_t id = r[2] % 3 ? AnyID(r[1]) : std::max<std::uint32_t>(PickContainerID(r[1]), 1);
    const std::int16_t type = kTypes[r[3] % 5];
    Call("container AddContainerFromData", mc->id, id, type);
    Expect("container AddContainerFromData", Hr(lc->AddContainerFromData(lc, id, type)),
           Hr(mc->AddContainerFromData(id, type)));
  }

  void Shutdown(const R& r, model::Container* mc, CNameContainer* lc) {
    auto [mk, lk] = Kid(r[1], mc, lc);
    if (!mk || !lk || r[2] % 2) mk = mc, lk = lc;
    Call("container Shutdown", mk->id);
    lk->Shutdown();
    mk->Shutdown();
  }

  // The counter set back, so that later containers and names repeat IDs.
  void LowerCounter(const R& r) {
    std::uint32_t to = r[0] % std::max<std::uint32_t>(model::LastIssued(), 1);
    if (r[1] % 2 && !mod_.tops.empty()) to = mod_.tops[r[2] % mod_.tops.size()]->id - 1;
    Call("SetLastIssuedNameID", to);
    CNameContainer::SetLastIssuedNameID(to);
    model::LastIssued() = to;
  }

  // Many names into one container at once: keys of one text bucket, IDs of
  // one ID bucket, or numbered texts, so that tables and chains grow long.
  void BulkNames(const R& r, model::Container* mc, CNameContainer* lc) {
    const std::uint32_t n = 8 + r[1] % 120;
    static const char* kHow[] = {"AddName of one text bucket's keys", "AddNameFromData of one ID bucket",
                                 "container AddName of numbered texts"};
    Call(kHow[r[2] % 3], mc->id, n, r[3]);
    const auto& words = OneBucketWords();
    std::string lib, mod;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t pick = r[3] + i * 2654435761u;
      if (r[2] % 3 == 0) {
        const Text text = CaseVariant(words[pick % std::min<std::size_t>(words.size(), 24)], pick >> 7);
        std::uint32_t libID = 0, modID = 0;
        lib += Hr(lib_->AddName(libID, mc->id, text, 1, false)) + Say(libID, "");
        mod += Hr(mod_.AddName(modID, mc->id, text, 1, false, false)) + Say(modID, "");
      } else if (r[2] % 3 == 1) {
        const std::uint32_t id = 1 + r[4] % 15 + (pick % 40) * 16u * 13513u;
        const Text text = PickText(pick >> 3);
        lib += Hr(lc->AddNameFromData(id, text, 0)) + " ";
        mod += Hr(mc->AddNameFromData(id, text)) + " ";
      } else {
        const Text text = CaseVariant(u"Pump" + Text(1, u'0' + pick % 10) + Text(1, u'0' + (pick >> 4) % 10), pick >> 9);
        lib += Say(lc->AddName(text), "");
        mod += Say(mc->AddName(text), "");
      }
    }
    Expect("bulk names", lib, mod);
  }

  // --- read-only calls: they must answer alike and change nothing

  void Query(const R& r) {
    const std::uint32_t c = PickContainerID(r[1]);
    const Text text = r[2] % 5 == 0 ? CaseVariant(PickText(r[2] / 5), r[3]) : PickText(r[2] / 5);
    const bool flag = r[3] % 2 == 0;
    model::Container* mc = mod_.GetContainer(c);
    CNameContainer* lc = lib_->GetContainer(c);
    const std::uint32_t nameID = PickNameID(r[4], mc), kind = r[5] % 2;
    std::uint32_t lid = 0xEEEEEEEE, mid = 0xEEEEEEEE;
    Text lt = u"junk", mt = u"junk", lall = u"junk", mall = u"junk";
    auto same = [&](const char* name, auto&&... args) { Call(name, c, args...); };
    switch (r[0] % 16) {
      case 0:
        same("IsDuplicateName", text, flag);
        return Expect("IsDuplicateName", Str(lib_->IsDuplicateName(c, text, flag)),
                      Str(mod_.IsDuplicateName(c, text, flag)));
      case 1:
        same("FindName", text, flag);
        return Expect("FindName", Str(lib_->FindName(c, text, flag)), Str(mod_.FindName(c, text, flag)));
      case 2: {
        Call("GetName", nameID);
        const HRESULT hr = lib_->GetName(nameID, lt), mhr = mod_.GetName(nameID, &mt);
        return Expect("GetName", Hr(hr) + Say(lt), Hr(mhr) + Say(mt));
      }
      case 3:
      case 4:
      case 5:
        return List(static_cast<model::ListKind>(r[0] % 16 - 3), c, r[5]);
      case 6:
        same("GetID", text);
        return Expect("GetID", Str(lib_->GetID(c, text)), Str(mod_.GetID(c, text)));
      case 7:
        same("GetNameSize");
        return Expect("GetNameSize", Str(lib_->GetNameSize(c)), Str(mod_.GetNameSize(c)));
      case 8:
        Call("IsGlobalName", text);
        return Expect("IsGlobalName", Str(lib_->IsGlobalName(text)), Str(mod_.IsGlobalName(text)));
      case 9: {
        Call("FindContainerOfName", nameID);
        const CNameContainer* l = lib_->FindContainerOfName(nameID);
        return Expect("FindContainerOfName", Str(l ? l->GetID() : 0), Str(IdOf(mod_.FindContainerOfName(nameID))));
      }
      case 10: {
        Call("GetGlobalContainerID, GetTargetsContainerIDList, GetTopLevelContainerIDs");
        Ids targets{7}, modTargets = mod_.GetTargets();
        lib_->GetTargetsContainerIDList(targets);
        modTargets.insert(modTargets.begin(), 7);
        return Expect("registry", Say(lib_->GetGlobalContainerID(), targets, lib_->GetTopLevelContainerIDs()),
                      Say(mod_.GetGlobalContainerID(), modTargets, mod_.GetTopLevelIDs()));
      }
      case 11:
        Call("IsKeyword, IsValidName", text, kind);
        return Expect("name rule", Say(lib_->IsKeyword(text), lib_->IsValidName(text, kind)),
                      Say(mod_.IsKeyword(text), model::Server::IsValidName(text, kind)));
      default:
        break;
    }
    if (!mc || !lc) return;  // the tree survey reports a missing one
    switch (r[0] % 16) {
      case 12: {
        same("container FindIDByName, GetIDOfName", text);
        const HRESULT hr = lc->FindIDByName(text, &lid), mhr = mc->FindIDByName(text, &mid);
        return Expect("container FindIDByName", Hr(hr) + Say(lid, lc->GetIDOfName(text)),
                      Hr(mhr) + Say(mid, mc->GetIDOfName(text)));
      }
      case 13: {
        same("container FindNameByID, FindNameByIDForAllContainers", nameID);
        const HRESULT hr = lc->FindNameByID(nameID, &lt), mhr = mc->FindNameByID(nameID, &mt);
        const HRESULT all = lc->FindNameByIDForAllContainers(nameID, &lall);
        const HRESULT mAll = mc->FindNameByIDForAllContainers(nameID, &mall);
        return Expect("container FindNameByID", Hr(hr) + Say(lt) + Hr(all) + Say(lall),
                      Hr(mhr) + Say(mt) + Hr(mAll) + Say(mall));
      }
      case 14: {
        same("container FindName", text, flag);
        const HRESULT hr = lc->FindName(text, flag, &lid), mhr = mc->FindName(text, flag, &mid);
        return Expect("container FindName", Hr(hr) + Say(lid), Hr(mhr) + Say(mid));
      }
      default: {
        same("container FindContainerOfName, FindRootContainer", nameID);
        const CNameContainer* l = lc->FindContainerOfName(nameID);
        return Expect("container FindContainerOfName", Say(l ? l->GetID() : 0, lc->FindRootContainer()->GetID()),
                      Say(IdOf(mc->FindContainerOfName(nameID)), mc->FindRootContainer()->id));
      }
    }
  }

  void List(model::ListKind kind, std::uint32_t c, std::uint32_t r) {
    static constexpr int kSlack[] = {0, 0, 2, -1};
    int capacity = mod_.GetNameSize(c) + kSlack[r % 4];
    if (r % 9 == 0) capacity = r % 2 ? 0 : -1;
    static const char* kNames[] = {"GetNames", "GetNameIDs", "GetNamesAndIDs"};
    const char* name = kNames[static_cast<int>(kind)];
    Call(name, c, capacity);
    const std::size_t room = static_cast<std::size_t>(std::max(capacity, 0)) + 2;
    std::vector<Text> names(room, kUnwritten), modNames(room, kUnwritten);
    Ids ids(room, kUnwrittenID), modIDs(room, kUnwrittenID);
    int count = -7;
    HRESULT hr = 0;
    if (kind == model::ListKind::kNames) hr = lib_->GetNames(c, capacity, count, names.data());
    if (kind == model::ListKind::kIDs) hr = lib_->GetNameIDs(c, capacity, count, ids.data());
    if (kind == model::ListKind::kNamesAndIDs) hr = lib_->GetNamesAndIDs(c, capacity, count, ids.data(), names.data());
    const model::ListAnswer a = mod_.GetList(kind, c, capacity);
    std::string lib = Hr(hr) + Say(count), mod = Hr(a.status) + Say(a.countWritten ? a.count : -7);
    const std::size_t shown = a.filled ? std::min<std::size_t>(static_cast<std::size_t>(a.count), room) : 0;
    if (a.open) {
      // Which entries come out is open; that each is one of the
      // container's, and that nothing past the count is written, is not.
      const std::vector<Text> head(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(shown));
      const Ids headIDs(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(shown));
      lib += CheckOpenList(kind == model::ListKind::kNamesAndIDs ? &headIDs : nullptr, head, *mod_.GetContainer(c));
      mod += "entries ok";
      std::fill(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(shown), kUnwritten);
      if (kind != model::ListKind::kIDs) std::fill(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(shown), kUnwrittenID);
    }
    for (std::size_t i = 0; i < shown; ++i) {
      if ((kind == model::ListKind::kIDs || !a.open) && i < a.ids.size()) modIDs[i] = a.ids[i];
      if (!a.open && i < a.names.size()) modNames[i] = a.names[i];
    }
    Expect(name, lib + Str(ids) + Str(names), mod + Str(modIDs) + Str(modNames));
  }

  bool survey_;
  bool notificationsOpen_ = false;
  std::string call_;
  CNotificationManager manager_;
  std::unique_ptr<CNameServer> lib_;
  model::Server mod_;
  std::vector<Seen> seen_;
  std::string bad_;
  Outcome out_;
};

// AddContainer first: Generate starts every sequence with it.
const Runner::Op Runner::kOps[] = {
    {"AddContainer", 6, &Runner::AddContainer},
    {"DeleteContainer", 2, &Runner::DeleteContainer},
    {"AddName", 20, &Runner::AddName},
    {"DeleteName", 5, &Runner::DeleteName},
    {"Rename by ID", 14, &Runner::RenameByID},
    {"Rename by text", 10, &Runner::RenameByText},
    {"container AddName", 4, &Runner::Direct<&Runner::DirectAddName>},
    {"container AddNameFromData", 4, &Runner::Direct<&Runner::DirectAddNameFromData>},
    {"container DeleteName", 3, &Runner::Direct<&Runner::DirectDeleteName>},
    {"container Rename by ID", 5, &Runner::Direct<&Runner::DirectRenameByID>},
    {"container Rename by text", 5, &Runner::Direct<&Runner::DirectRenameByText>},
    {"a lookup", 18, &Runner::Query},
    {"GetNextName", 5, &Runner::GetNextName},
    {"AddKeyword", 1, &Runner::AddKeyword},
    {"Save and Load", 2, &Runner::SaveAndReload},
    {"Load", 2, &Runner::LoadCrafted},
    {"SetDirty", 1, &Runner::SetDirty},
    {"many names", 1, &Runner::Direct<&Runner::BulkNames>},
    {"SetContainerType", 1, &Runner::Direct<&Runner::SetContainerType>},
    {"ResetContainer", 1, &Runner::Direct<&Runner::ResetContainer>},
    {"container DeleteContainer", 1, &Runner::Direct<&Runner::DirectDeleteContainer>},
    {"container Save and Load", 1, &Runner::Direct<&Runner::LoadRecord>},
    {"container CreateContainerFromData", 1, &Runner::Direct<&Runner::CreateFromData>},
    {"container AddContainerFromData", 1, &Runner::Direct<&Runner::AddFromData>},
    {"container Shutdown", 1, &Runner::Direct<&Runner::Shutdown>},
    {"SetLastIssuedNameID", 1, &Runner::LowerCounter},
};
const int Runner::kOpCount = static_cast<int>(std::size(Runner::kOps));

Outcome Runner::Go(const std::vector<Command>& commands) {
  for (std::size_t i = 0; i < commands.size() && out_.difference.empty(); ++i) {
    const Op& op = kOps[commands[i].op % kOpCount];
    call_.clear();
    (this->*op.run)(commands[i].r);
    AfterStep(op.name);
    if (!out_.difference.empty()) out_.failedStep = static_cast<int>(i);
  }
  return std::move(out_);
}

}  // namespace

std::vector<Command> Generate(std::mt19937_64& rng, int length) {
  int total = 0;
  for (const auto& op : Runner::kOps) total += op.weight;
  std::vector<Command> out(static_cast<std::size_t>(length));
  for (Command& cmd : out) {
    int pick = static_cast<int>(rng() % static_cast<std::uint64_t>(total));
    while (pick >= Runner::kOps[cmd.op].weight) pick -= Runner::kOps[cmd.op++].weight;
    for (auto& r : cmd.r) r = static_cast<std::uint32_t>(rng());
  }
  if (!out.empty()) out[0] = Command{0, {0, 1, 0, 0, 0, 0}};  // a tree to put names into
  return out;
}

Outcome Run(const std::vector<Command>& commands, bool survey) { return Runner(survey).Go(commands); }

std::string Describe(const Outcome& o) {
  std::string out;
  for (const std::string& call : o.calls) out += "  " + call + "\n";
  return out + "disagreement (" + o.kind + "):\n  " + o.difference + "\n";
}

bool LibraryFoldsLikeModel(std::string* why) {
  const std::uint32_t saved = CNameContainer::GetLastIssuedNameID();
  CNameContainer c;
  for (auto [lower, upper] : model::kExtraLetters) {
    const std::uint32_t id = c.AddName(Text(1, lower) + u"x");
    std::uint32_t found = 0;
    if (c.FindIDByName(Text(1, upper) + u"X", &found) != S_OK || found != id)
      *why = "the library does not fold U+" + Str(static_cast<unsigned>(lower)) + " to U+" + Str(static_cast<unsigned>(upper));
  }
  CNameContainer::SetLastIssuedNameID(saved);
  return why->empty();
}

}  // namespace nametree::modeldiff
