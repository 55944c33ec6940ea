#include "support/model_driver.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "nametree/memory_storage.h"
#include "nametree/name_container.h"
#include "nametree/name_server.h"
#include "nametree/notification.h"
#include "nametree/storage.h"
#include "support/classic_model.h"

namespace nametree::modeldiff {

namespace {

using model::Text;

enum Op : std::uint8_t {
  kAddContainer,
  kDeleteContainer,
  kAddName,
  kDeleteName,
  kRenameByID,
  kRenameByText,
  kDirectAddName,
  kDirectAddNameFromData,
  kDirectDeleteName,
  kDirectRenameByID,
  kDirectRenameByText,
  kQuery,
  kGetNextName,
  kAddKeyword,
  kSaveAndReload,
  kLoadCrafted,
  kSetDirty,
  kBulkNames,
  kSetContainerType,
  kResetContainer,
  kDirectDeleteContainer,
  kOpCount
};

constexpr int kWeights[kOpCount] = {6, 2, 20, 5, 14, 10, 4, 4, 3, 5, 5, 18, 5, 1, 2, 2, 1, 1, 1, 1, 1};

const char* const kOpNames[kOpCount] = {
    "AddContainer", "DeleteContainer", "AddName", "DeleteName", "Rename by ID", "Rename by text",
    "container AddName", "container AddNameFromData", "container DeleteName", "container Rename by ID",
    "container Rename by text", "a lookup", "GetNextName", "AddKeyword", "Save and Load", "Load",
    "SetDirty", "many names", "SetContainerType", "ResetContainer", "container DeleteContainer"};

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
const std::vector<Text>& CrowdedTexts() {
  static const std::vector<Text> texts = {
      u"Pump", u"pump", u"PUMP", u"pumP", u"Fan10", u"fan10", u"FAN10",
      u"\u03C9\u03A9", u"\u03A9\u03A9", u"\u03A9\u03C9", u"\u03C9\u03C9", u"\u00E4b", u"\u00C4B"};
  return texts;
}
const std::vector<Text>& OtherTexts() {
  static const std::vector<Text> texts = {
      u"Valve", u"valve", u"Pump1", u"PUMP2", u"pump3", u"Begin", u"begin", u"_x", u"__", u"1abc",
      u"a b", u"Motor-1", u"", u"AB", u"B", u"A", u"Motor_1",
      u"Abcdefghijabcdefghijabcdefghijab",    // 32 units
      u"Abcdefghijabcdefghijabcdefghijabc"};  // 33 units
  return texts;
}

Text PickText(std::uint32_t r) {
  const auto& crowded = CrowdedTexts();
  const auto& other = OtherTexts();
  if (r % 10 < 6) return crowded[(r / 10) % crowded.size()];
  return other[(r / 10) % other.size()];
}

char16_t Lower(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c - u'A' + u'a');
  for (auto [lower, upper] : model::kExtraLetters)
    if (c == upper) return lower;
  return c;
}

// The same text with the case of each letter chosen by the bits of r.
Text CaseVariant(Text text, std::uint32_t r) {
  for (std::size_t i = 0; i < text.size(); ++i, r = r * 1103515245u + 12345u)
    text[i] = (r >> 16) & 1 ? model::Upper(Text(1, text[i]))[0] : Lower(text[i]);
  return text;
}

std::string Quote(const Text& text) {
  std::string out = "u\"";
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

std::string Hr(HRESULT hr) { return StatusName(hr); }
std::string B(bool b) { return b ? "true" : "false"; }
std::string N(std::uint64_t v) { return std::to_string(v); }

std::string Ids(const std::vector<std::uint32_t>& ids) {
  std::string out = "[";
  for (std::size_t i = 0; i < ids.size(); ++i) out += (i ? " " : "") + N(ids[i]);
  return out + "]";
}

std::string Texts(const std::vector<Text>& texts) {
  std::string out = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? " " : "") + Quote(texts[i]);
  return out + "]";
}

struct Seen {
  CString name;
  std::uint32_t containerID, nameID;
  CString oldName, newName;
};

std::string Posts(const std::vector<Seen>& posts) {
  std::string out;
  for (const Seen& p : posts)
    out += " " + Quote(p.name) + "(" + N(p.containerID) + "," + N(p.nameID) + "," + Quote(p.oldName) +
           "," + Quote(p.newName) + ")";
  return out;
}

std::vector<std::uint8_t> StreamOf(IStorage* storage) {
  ComPtr<IStream> stream;
  if (storage->OpenStream(u"NameServer", kOpenMode, stream.Put()) < 0) return {};
  return MemoryStreamBytes(stream.Get());
}

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

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s0x%02X", i ? "," : "", bytes[i]);
    out += buf;
  }
  return out;
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
  static constexpr std::int16_t kTypes[] = {0, 2, 3, 4, 1};
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
  explicit Runner(Options options) : log_(options.log), survey_(options.survey) {
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

  Outcome Go(const std::vector<Command>& commands) {
    for (std::size_t i = 0; i < commands.size(); ++i) {
      Step(commands[i]);
      if (!out_.difference.empty()) {
        out_.failedStep = static_cast<int>(i);
        break;
      }
    }
    return std::move(out_);
  }

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
      c->subs.Walk([&](const std::uint32_t&, const std::unique_ptr<model::Container>& child) {
        visit(child.get());
      });
    };
    for (const auto& top : mod_.tops) visit(top.get());
    return out;
  }

  // Any container ID, 0, or one that names no container.
  std::uint32_t PickContainerID(std::uint32_t r) const {
    const auto all = Containers();
    const std::uint32_t n = static_cast<std::uint32_t>(all.size());
    const std::uint32_t k = r % (n + 2);
    if (k < n) return all[k]->id;
    return k == n ? 0 : 0x00ABCDEF;
  }

  model::Container* PickContainer(std::uint32_t r) const {
    const auto all = Containers();
    return all.empty() ? nullptr : all[r % all.size()];
  }

  // A name ID the container holds (when it holds any), one held elsewhere,
  // 0, or an ID drawn already.
  std::uint32_t PickNameID(std::uint32_t r, const model::Container* in) const {
    std::vector<std::uint32_t> ids;
    if (in) in->byID.Walk([&](const std::uint32_t& id, const Text&) { ids.push_back(id); });
    switch (r % 8) {
      case 0:
        return 0;
      case 1:
        return 1 + (r / 8) % std::max<std::uint32_t>(model::LastIssued(), 1);
      case 2:
      case 3: {
        for (model::Container* c : Containers())
          c->byID.Walk([&](const std::uint32_t& id, const Text&) { ids.push_back(id); });
        break;
      }
      default:
        break;
    }
    if (ids.empty()) return 1 + (r / 8) % std::max<std::uint32_t>(model::LastIssued(), 1);
    return ids[(r / 8) % ids.size()];
  }

  // A new text for a rename: any text, a case variant of the name's own
  // text, or a case variant of another name of the same container.
  Text PickNewText(std::uint32_t r, const model::Container* c, const Text& current) const {
    switch (r % 3) {
      case 1:
        if (!current.empty()) return CaseVariant(current, r / 3);
        break;
      case 2:
        if (c && c->byID.Size() > 0) {
          std::vector<Text> texts = c->AllNames();
          return CaseVariant(texts[(r / 3) % texts.size()], r / 7);
        }
        break;
      default:
        break;
    }
    return PickText(r / 3);
  }

  // --- comparing

  void Expect(const std::string& call, const std::string& lib, const std::string& mod,
              const std::string& aspect, bool logged = true) {
    if (log_ && logged) out_.calls.push_back(call + ";  // " + lib);
    if (!out_.difference.empty() || lib == mod) return;
    out_.difference = call + "\n  library: " + lib + "\n  model:   " + mod;
    out_.kind = aspect;
  }

  void Fail(const std::string& call, const std::string& what, const std::string& aspect) {
    if (!out_.difference.empty()) return;
    out_.difference = call + "\n  " + what;
    out_.kind = aspect;
  }

  // Checks a name list that the model leaves open: each delivered entry
  // must be one of the container's, none twice.
  std::string CheckOpenList(const std::vector<std::uint32_t>* ids, const std::vector<CString>& names,
                            const model::Container& c) {
    std::set<std::pair<std::uint32_t, Text>> allowed;
    std::set<Text> allowedNames;
    for (auto& [id, text] : c.AllNamesAndIDs()) {
      allowed.insert({id, text});
      allowedNames.insert(text);
    }
    std::set<std::pair<std::uint32_t, Text>> used;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == u"\uFFFF") continue;  // left unwritten
      if (ids) {
        const std::pair<std::uint32_t, Text> pair{(*ids)[i], names[i]};
        if (!allowed.count(pair) || !used.insert(pair).second) return "entry " + N(i) + " is not one of its names";
      } else if (!allowedNames.count(names[i])) {
        return "entry " + N(i) + " is not one of its names";
      }
    }
    return "entries ok";
  }

  // Both trees, container by container in walk order.
  std::string Survey(CNameContainer& lib, const model::Container& mod, const std::string& where) {
    std::string diff;
    auto check = [&](const std::string& what, const std::string& l, const std::string& m) {
      if (diff.empty() && l != m) diff = where + " " + what + ": library " + l + ", model " + m;
    };
    check("ID", N(lib.GetID()), N(mod.id));
    check("type", N(static_cast<std::uint16_t>(lib.GetContainerType())), N(static_cast<std::uint16_t>(mod.type)));
    check("parent", N(lib.GetParentID()), N(mod.GetParentID()));
    const int count = lib.GetNumNames();
    check("GetNumNames", N(count), N(mod.GetNumNames()));
    if (!diff.empty()) return diff;
    std::vector<std::uint32_t> ids(static_cast<std::size_t>(count) + 2, 0xFFFFFFFFu);
    lib.GetAllIDsInContainer(ids.data());
    check("GetAllIDsInContainer", Ids(ids), Ids([&] {
            auto v = mod.AllIDs();
            v.resize(static_cast<std::size_t>(count) + 2, 0xFFFFFFFFu);
            return v;
          }()));
    std::vector<CString> names(static_cast<std::size_t>(count) + 2, CString(1, u'\uFFFF'));
    std::vector<std::uint32_t> pairIDs(names.size(), 0xFFFFFFFFu);
    lib.GetAllNameAndIDsInContainer(names.data(), pairIDs.data());
    if (mod.ListsOpen()) {
      names.resize(static_cast<std::size_t>(count) + 2);
      check("GetAllNameAndIDsInContainer", CheckOpenList(&pairIDs, names, mod), "entries ok");
      check("overrun", N(names[count] == u"\uFFFF" && names[count + 1] == u"\uFFFF"), "1");
    } else {
      std::vector<std::uint32_t> modIDs;
      std::vector<Text> modNames;
      for (auto& [id, text] : mod.AllNamesAndIDs()) {
        modIDs.push_back(id);
        modNames.push_back(text);
      }
      modIDs.resize(names.size(), 0xFFFFFFFFu);
      modNames.resize(names.size(), CString(1, u'\uFFFF'));
      check("GetAllNameAndIDsInContainer", Ids(pairIDs) + Texts(names), Ids(modIDs) + Texts(modNames));
    }
    const int subCount = lib.GetNumSubContainers();
    check("GetNumSubContainers", N(subCount), N(mod.subs.Size()));
    if (!diff.empty()) return diff;
    std::vector<std::uint32_t> subIDs(static_cast<std::size_t>(subCount));
    lib.GetSubContainerIDs(subIDs.data());
    check("GetSubContainerIDs", Ids(subIDs), Ids(mod.SubContainerIDs()));
    if (!diff.empty()) return diff;
    std::string inner;
    mod.subs.Walk([&](const std::uint32_t& id, const std::unique_ptr<model::Container>& child) {
      if (!inner.empty()) return;
      CNameContainer* libChild = lib.FindContainer(id);
      if (!libChild || libChild->GetParent() != &lib) {
        inner = where + "/" + N(id) + " is not a child in the library";
        return;
      }
      inner = Survey(*libChild, *child, where + "/" + N(id));
    });
    return inner;
  }

  void AfterStep(const std::string& call, bool notificationsOpen) {
    const std::size_t before = out_.difference.size();
    if (!bad_.empty()) Fail(call, "notification record:" + bad_, "notification record");
    bad_.clear();
    std::vector<Seen> modPosts;
    for (const auto& p : mod_.posted) modPosts.push_back({p.name, p.containerID, p.nameID, p.oldName, p.newName});
    if (!notificationsOpen) Expect(call + " posted", Posts(seen_), Posts(modPosts), "notifications", false);
    seen_.clear();
    mod_.posted.clear();
    Expect(call + " IsDirty", B(lib_->IsDirty()), B(mod_.dirty), "dirty flag", false);
    Expect(call + " last issued ID", N(CNameContainer::GetLastIssuedNameID()), N(model::LastIssued()),
           "ID counter", false);
    const std::string broken = lib_->CheckInvariants();
    if (!broken.empty()) Fail(call, "CheckInvariants: " + broken, "CheckInvariants");
    const auto libTops = lib_->GetTopLevelContainers();
    Expect(call + " top-level containers", N(libTops.size()), N(mod_.tops.size()), "top-level list", false);
    if (survey_ && libTops.size() == mod_.tops.size()) {
      for (std::size_t i = 0; i < libTops.size() && out_.difference.empty(); ++i) {
        const std::string diff = Survey(*libTops[i], *mod_.tops[i], "top " + N(i) + " (" + N(mod_.tops[i]->id) + ")");
        if (!diff.empty()) Fail(call, "after the call, " + diff, "tree after the call");
      }
    }
    if (before == 0 && !out_.difference.empty()) out_.kind += std::string(" after ") + kOpNames[op_];
    for (const auto& c : Containers()) {
      if (c->HoldsSharedKey()) out_.reached.sharedKey = true;
    }
  }

  // --- one command

  void Step(const Command& cmd) {
    const auto& r = cmd.r;
    op_ = cmd.op % kOpCount;
    std::string call;
    bool notificationsOpen = false;
    switch (cmd.op % kOpCount) {
      case kAddContainer: {
        const std::uint32_t parent = r[0] % 3 == 0 ? 0 : PickContainerID(r[0] / 3);
        static constexpr std::int16_t kTypes[] = {0, 2, 3, 4, 1, 0, 2, 3};
        const std::int16_t type = kTypes[r[1] % 8];
        call = "server.AddContainer(" + N(parent) + ", " + N(type) + ")";
        Expect(call, N(lib_->AddContainer(parent, type)), N(mod_.AddContainer(parent, type)), "AddContainer");
        break;
      }
      case kDeleteContainer: {
        const std::uint32_t id = PickContainerID(r[0]);
        const bool notify = r[1] % 4 != 0;
        call = "server.DeleteContainer(" + N(id) + ", " + B(notify) + ")";
        Expect(call, Hr(lib_->DeleteContainer(id, notify)), Hr(mod_.DeleteContainer(id, notify)), "DeleteContainer");
        break;
      }
      case kAddName: {
        const std::uint32_t c = PickContainerID(r[0]);
        const Text text = PickText(r[1]);
        const std::uint32_t kind = r[2] % 3 == 0 ? 1 : 0;
        const bool check = r[3] % 2 == 0;
        const bool confine = r[4] % 2 == 0;
        const bool fiveArgs = r[5] % 2 == 0 && !confine;
        call = "server.AddName(id, " + N(c) + ", " + Quote(text) + ", " + N(kind) + ", " + B(check) +
               (fiveArgs ? "" : ", " + B(confine)) + ")";
        std::uint32_t libID = 0xEEEEEEEE, modID = 0xEEEEEEEE;
        const HRESULT hr = fiveArgs ? lib_->AddName(libID, c, text, kind, check)
                                    : lib_->AddName(libID, c, text, kind, check, confine);
        const HRESULT mhr = mod_.AddName(modID, c, text, kind, check, confine);
        Expect(call, Hr(hr) + " id " + N(libID), Hr(mhr) + " id " + N(modID), "AddName");
        break;
      }
      case kDeleteName: {
        model::Container* in = PickContainer(r[0]);
        const std::uint32_t c = r[1] % 6 == 0 ? PickContainerID(r[1] / 6) : (in ? in->id : 0);
        const std::uint32_t id = PickNameID(r[2], in);
        const bool notify = r[3] % 4 != 0;
        call = "server.DeleteName(" + N(c) + ", " + N(id) + ", " + B(notify) + ")";
        notificationsOpen = !mod_.GetContainer(c);
        Expect(call, Hr(lib_->DeleteName(c, id, notify)), Hr(mod_.DeleteName(c, id, notify)), "DeleteName");
        break;
      }
      case kRenameByID: {
        model::Container* in = PickContainer(r[0]);
        const std::uint32_t id = PickNameID(r[2], in);
        const std::uint32_t c = r[1] % 4 == 0 ? 0 : r[1] % 4 == 1 ? PickContainerID(r[1] / 4) : (in ? in->id : 0);
        model::Container* holder = c ? mod_.GetContainer(c) : mod_.FindContainerOfName(id);
        Text current;
        if (holder) holder->FindNameByID(id, &current);
        const Text text = PickNewText(r[3], holder, current);
        const std::uint32_t kind = r[4] % 4 == 0 ? 1 : 0;
        const bool notify = r[5] % 5 != 0, confine = r[5] % 3 == 0;
        call = "server.Rename(" + N(c) + ", " + N(id) + ", " + Quote(text) + ", " + N(kind) + ", " + B(notify) +
               ", " + B(confine) + ")";
        const HRESULT mhr = mod_.Rename(c, id, text, kind, notify, confine);
        Expect(call, Hr(lib_->Rename(c, id, text, kind, notify, confine)), Hr(mhr), "Rename by ID");
        NoteRename(mhr, holder, current, text, id);
        break;
      }
      case kRenameByText: {
        model::Container* in = PickContainer(r[0]);
        const std::uint32_t c = r[1] % 6 == 0 ? PickContainerID(r[1] / 6) : (in ? in->id : 0);
        Text old = PickText(r[2]);
        if (in && in->byID.Size() > 0 && r[2] % 4 != 0) {
          auto texts = in->AllNames();
          old = CaseVariant(texts[(r[2] / 4) % texts.size()], r[2] / 9);
        }
        const Text text = PickNewText(r[3], in, old);
        const std::uint32_t kind = r[4] % 4 == 0 ? 1 : 0;
        const bool notify = r[5] % 5 != 0, confine = r[5] % 3 == 0;
        call = "server.Rename(" + N(c) + ", " + Quote(old) + ", " + Quote(text) + ", " + N(kind) + ", " +
               B(notify) + ", " + B(confine) + ")";
        const HRESULT mhr = mod_.Rename(c, old, text, kind, notify, confine);
        Expect(call, Hr(lib_->Rename(c, old, text, kind, notify, confine)), Hr(mhr), "Rename by text");
        break;
      }
      case kBulkNames:
        call = Bulk(cmd);
        break;
      case kDirectAddName:
      case kSetContainerType:
      case kResetContainer:
      case kDirectDeleteContainer:
      case kDirectAddNameFromData:
      case kDirectDeleteName:
      case kDirectRenameByID:
      case kDirectRenameByText:
        call = Direct(cmd);
        break;
      case kQuery:
        call = Query(cmd);
        break;
      case kGetNextName: {
        const std::uint32_t c = r[0] % 8 == 0 ? PickContainerID(r[0] / 8) : (PickContainer(r[0]) ? PickContainer(r[0])->id : 0);
        static const Text kBases[] = {u"Pump", u"pump", u"Fan", u"Pump-A", u"--", u"\u03C9",
                                      u"Abcdefghijabcdefghijabcdefghij",
                                      u"Abcdefghijabcdefghijabcdefghijab"};
        static constexpr int kDigits[] = {0, 0, 1, 2, 3, -3};
        const Text base = kBases[r[1] % 8];
        const int digits = kDigits[r[2] % 6];
        call = "server.GetNextName(" + N(c) + ", " + Quote(base) + ", " + std::to_string(digits) + ", &result)";
        CString libResult = u"junk", modResult = u"junk";
        const HRESULT hr = lib_->GetNextName(c, base, digits, &libResult);
        const HRESULT mhr = mod_.GetNextName(c, base, digits, &modResult);
        Expect(call, Hr(hr) + " " + Quote(libResult), Hr(mhr) + " " + Quote(modResult), "GetNextName");
        break;
      }
      case kAddKeyword: {
        static const Text kWords[] = {u"begin", u"BEGIN", u"Fan10", u"\u03C9\u03C9", u"Pump"};
        const Text word = kWords[r[0] % 5];
        call = "server.AddKeyword(" + Quote(word) + ")";
        Expect(call, Hr(lib_->AddKeyword(word)), Hr(mod_.AddKeyword(word)), "AddKeyword");
        break;
      }
      case kSaveAndReload: {
        ComPtr<IStorage> storage = CreateMemoryStorage();
        call = "server.Save(storage)";
        const HRESULT hr = lib_->Save(storage.Get());
        const std::vector<std::uint8_t> bytes = StreamOf(storage.Get());
        const std::vector<std::uint8_t> modBytes = mod_.Save();
        if (bytes == modBytes) Expect(call, Hr(hr), "S_OK", "Save bytes");
        else Expect(call, Hr(hr) + " " + HexBytes(bytes), "S_OK " + HexBytes(modBytes), "Save bytes");
        if (r[0] % 3 == 0) break;
        std::optional<std::vector<std::uint8_t>> load = modBytes;
        if (r[1] % 5 == 0) load->resize(load->size() * (r[1] / 5 % 100) / 100);
        if (r[1] % 17 == 1) load.reset();
        Load(call, load, r[2] % 4 != 0);
        break;
      }
      case kLoadCrafted: {
        // Into a fresh server the stream's IDs need not clear the present
        // ones, so that a shrunk sequence can drop all that came before.
        const bool fresh = r[1] % 2 == 0;
        call = "";
        Load(call, CraftStream(r[0], fresh ? 0 : model::LastIssued()), fresh);
        break;
      }
      case kSetDirty: {
        const bool dirty = r[0] % 2 == 0;
        call = "server.SetDirty(" + B(dirty) + ")";
        lib_->SetDirty(dirty);
        mod_.dirty = dirty;
        if (log_) out_.calls.push_back(call + ";");
        break;
      }
      default:
        break;
    }
    AfterStep(call, notificationsOpen);
  }

  void NoteRename(HRESULT hr, const model::Container* c, const Text& before, const Text& after,
                  std::uint32_t id) {
    if (hr != S_OK || !c) return;
    if (before != after && model::Upper(before) == model::Upper(after)) out_.reached.caseOnlyRename = true;
    std::uint32_t holder = 0;
    if (c->FindIDByName(after, &holder) == S_OK && holder == id) {
      for (auto& [otherID, text] : c->AllNamesAndIDs())
        if (otherID != id && model::Upper(text) == model::Upper(after)) out_.reached.ontoHeldKey = true;
    }
  }

  // Load into a fresh server pair, or appended to the present one.
  void Load(std::string& call, const std::optional<std::vector<std::uint8_t>>& bytes, bool fresh) {
    if (!call.empty()) call += "; ";
    if (fresh) {
      Fresh();
      call += "CNameServer fresh; fresh.Initialize(&manager); ";
    }
    if (!bytes) call += "Load(storage without \"NameServer\")";
    else call += log_ ? "Load(stream{" + HexBytes(*bytes) + "})" : "Load(a stream of " + N(bytes->size()) + " bytes)";
    ComPtr<IStorage> storage = StorageHolding(bytes);
    const HRESULT hr = lib_->Load(storage.Get());
    const HRESULT mhr = mod_.Load(bytes);
    Expect(call, Hr(hr), Hr(mhr), "Load");
    if (mhr == S_OK && bytes) {
      for (const auto& c : Containers())
        if (c->HoldsSharedKey() || c->ListsOpen()) out_.reached.loadedDuplicate = true;
    }
  }

  std::string Direct(const Command& cmd) {
    const auto& r = cmd.r;
    model::Container* mc = PickContainer(r[0]);
    if (!mc) return "";
    CNameContainer* lc = lib_->GetContainer(mc->id);
    const std::string self = "server.GetContainer(" + N(mc->id) + ")->";
    if (!lc || lc->GetID() != mc->id || mod_.GetContainer(mc->id) != mc) {
      if (!lc) Fail(self + "...", "the library has no container " + N(mc->id), "GetContainer");
      return "";
    }
    std::string call;
    switch (cmd.op % kOpCount) {
      case kDirectAddName: {
        const Text text = PickText(r[1]);
        call = self + "AddName(" + Quote(text) + ")";
        Expect(call, N(lc->AddName(text)), N(mc->AddName(text)), "container AddName");
        break;
      }
      case kDirectAddNameFromData: {
        const std::uint32_t id = r[2] % 3 == 0 ? PickNameID(r[3], mc) : 1 + r[3] % std::max<std::uint32_t>(model::LastIssued(), 1);
        const Text text = r[1] % 2 ? PickText(r[1] / 2) : PickNewText(r[4], mc, u"Pump");
        call = self + "AddNameFromData(" + N(id) + ", " + Quote(text) + ", 0)";
        Expect(call, Hr(lc->AddNameFromData(id, text, 0)), Hr(mc->AddNameFromData(id, text)),
               "container AddNameFromData");
        break;
      }
      case kDirectDeleteName: {
        const std::uint32_t id = PickNameID(r[1], mc);
        call = self + "DeleteName(" + N(id) + ")";
        Expect(call, Hr(lc->DeleteName(id)), Hr(mc->DeleteName(id)), "container DeleteName");
        break;
      }
      case kDirectRenameByID: {
        const std::uint32_t id = PickNameID(r[1], mc);
        Text current;
        mc->FindNameByID(id, &current);
        const Text text = r[3] % 11 == 0 ? Text() : PickNewText(r[2], mc, current);
        call = self + "Rename(" + N(id) + ", " + Quote(text) + ")";
        const HRESULT mhr = mc->Rename(id, text);
        Expect(call, Hr(lc->Rename(id, text)), Hr(mhr), "container Rename by ID");
        NoteRename(mhr, mc, current, text, id);
        break;
      }
      case kSetContainerType: {
        static constexpr std::int16_t kTypes[] = {0, 2, 3, 4, 1};
        const std::int16_t type = kTypes[r[1] % 5];
        call = self + "SetContainerType(" + N(type) + ")";
        lc->SetContainerType(type);
        mc->type = type;
        if (log_) out_.calls.push_back(call + ";");
        break;
      }
      case kResetContainer:
        call = self + "ResetContainer()";
        lc->ResetContainer();
        mc->byID.Clear();
        mc->byName.Clear();
        if (log_) out_.calls.push_back(call + ";");
        break;
      case kDirectDeleteContainer: {
        std::vector<std::uint32_t> subs = mc->SubContainerIDs();
        const std::uint32_t id = r[1] % 4 == 0 || subs.empty() ? PickContainerID(r[1] / 4) : subs[(r[1] / 4) % subs.size()];
        call = self + "DeleteContainer(" + N(id) + ")";
        Expect(call, Hr(lc->DeleteContainer(id)), Hr(mc->DeleteContainer(id)), "container DeleteContainer");
        break;
      }
      case kDirectRenameByText: {
        Text old = PickText(r[1]);
        if (mc->byID.Size() > 0 && r[1] % 4 != 0) {
          auto texts = mc->AllNames();
          old = CaseVariant(texts[(r[1] / 4) % texts.size()], r[1] / 9);
        }
        std::uint32_t id = 0;
        Text current;
        if (mc->FindIDByName(old, &id) == S_OK) mc->FindNameByID(id, &current);
        const Text text = PickNewText(r[2], mc, old);
        call = self + "Rename(" + Quote(old) + ", " + Quote(text) + ")";
        const HRESULT mhr = mc->Rename(old, text);
        Expect(call, Hr(lc->Rename(old, text)), Hr(mhr), "container Rename by text");
        NoteRename(mhr, mc, current, text, id);
        break;
      }
      default:
        break;
    }
    return call;
  }

  // Many names into one container at once: keys of one text bucket, IDs of
  // one ID bucket, or numbered texts, so that tables and chains grow long.
  std::string Bulk(const Command& cmd) {
    const auto& r = cmd.r;
    model::Container* mc = PickContainer(r[0]);
    if (!mc) return "";
    CNameContainer* lc = lib_->GetContainer(mc->id);
    if (!lc || mod_.GetContainer(mc->id) != mc) return "";
    const std::string self = "server.GetContainer(" + N(mc->id) + ")->";
    const std::uint32_t n = 8 + r[1] % 120;
    auto logged = [&](const std::string& line) {
      if (log_) out_.calls.push_back(line + ";");
    };
    const auto& words = OneBucketWords();
    std::string lib, mod;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t pick = r[3] + i * 2654435761u;
      switch (r[2] % 3) {
        case 0: {
          const Text text = CaseVariant(words[pick % std::min<std::size_t>(words.size(), 24)], pick >> 7);
          std::uint32_t libID = 0, modID = 0;
          logged("server.AddName(id, " + N(mc->id) + ", " + Quote(text) + ", 1, false)");
          lib += Hr(lib_->AddName(libID, mc->id, text, 1, false)) + N(libID) + " ";
          mod += Hr(mod_.AddName(modID, mc->id, text, 1, false, false)) + N(modID) + " ";
          break;
        }
        case 1: {
          const std::uint32_t id = 1 + r[4] % 15 + (pick % 40) * 16u * 13513u;
          const Text text = PickText(pick >> 3);
          logged(self + "AddNameFromData(" + N(id) + ", " + Quote(text) + ", 0)");
          lib += Hr(lc->AddNameFromData(id, text, 0)) + " ";
          mod += Hr(mc->AddNameFromData(id, text)) + " ";
          break;
        }
        default: {
          const Text text = CaseVariant(u"Pump" + Text(1, u'0' + pick % 10) + Text(1, u'0' + (pick >> 4) % 10), pick >> 9);
          logged(self + "AddName(" + Quote(text) + ")");
          lib += N(lc->AddName(text)) + " ";
          mod += N(mc->AddName(text)) + " ";
          break;
        }
      }
    }
    static const char* kHow[] = {"AddName of one text bucket's keys", "AddNameFromData of one ID bucket",
                                 "AddName of numbered texts"};
    const std::string call = self + kHow[r[2] % 3] + " x" + N(n) + " (seed " + N(r[3]) + ")";
    Expect(call, lib, mod, "bulk names", false);
    return call;
  }

  // Read-only calls: they must answer alike and change nothing.
  std::string Query(const Command& cmd) {
    const auto& r = cmd.r;
    const std::uint32_t c = PickContainerID(r[1]);
    const Text text = r[2] % 5 == 0 ? CaseVariant(PickText(r[2] / 5), r[3]) : PickText(r[2] / 5);
    const bool flag = r[3] % 2 == 0;
    model::Container* mc = mod_.GetContainer(c);
    const std::uint32_t nameID = PickNameID(r[4], mc);
    std::string call;
    switch (r[0] % 16) {
      case 0:
        call = "server.IsDuplicateName(" + N(c) + ", " + Quote(text) + ", " + B(flag) + ")";
        Expect(call, B(lib_->IsDuplicateName(c, text, flag)), B(mod_.IsDuplicateName(c, text, flag)),
               "IsDuplicateName");
        break;
      case 1:
        call = "server.FindName(" + N(c) + ", " + Quote(text) + ", " + B(flag) + ")";
        Expect(call, B(lib_->FindName(c, text, flag)), B(mod_.FindName(c, text, flag)), "FindName");
        break;
      case 2: {
        call = "server.GetName(" + N(nameID) + ", text)";
        CString lt = u"junk", mt = u"junk";
        const HRESULT hr = lib_->GetName(nameID, lt);
        const HRESULT mhr = mod_.GetName(nameID, &mt);
        Expect(call, Hr(hr) + " " + Quote(lt), Hr(mhr) + " " + Quote(mt), "GetName");
        break;
      }
      case 3:
      case 4:
      case 5:
        call = List(static_cast<model::ListKind>(r[0] % 16 - 3), c, r[5]);
        break;
      case 6:
        call = "server.GetID(" + N(c) + ", " + Quote(text) + ")";
        Expect(call, N(lib_->GetID(c, text)), N(mod_.GetID(c, text)), "GetID");
        break;
      case 7:
        call = "server.GetNameSize(" + N(c) + ")";
        Expect(call, N(lib_->GetNameSize(c)), N(mod_.GetNameSize(c)), "GetNameSize");
        break;
      case 8:
        call = "server.IsGlobalName(" + Quote(text) + ")";
        Expect(call, B(lib_->IsGlobalName(text)), B(mod_.IsGlobalName(text)), "IsGlobalName");
        break;
      case 9: {
        call = "server.FindContainerOfName(" + N(nameID) + ")";
        const CNameContainer* l = lib_->FindContainerOfName(nameID);
        const model::Container* m = mod_.FindContainerOfName(nameID);
        Expect(call, N(l ? l->GetID() : 0), N(m ? m->id : 0), "FindContainerOfName");
        break;
      }
      case 10: {
        call = "server.GetGlobalContainerID(), GetTargetsContainerIDList(list)";
        std::vector<std::uint32_t> targets{7};
        lib_->GetTargetsContainerIDList(targets);
        auto modTargets = mod_.GetTargets();
        modTargets.insert(modTargets.begin(), 7);
        Expect(call, N(lib_->GetGlobalContainerID()) + Ids(targets) + Ids(lib_->GetTopLevelContainerIDs()),
               N(mod_.GetGlobalContainerID()) + Ids(modTargets) + Ids(mod_.GetTopLevelIDs()), "registry");
        break;
      }
      case 11: {
        const std::uint32_t kind = r[5] % 2;
        call = "server.IsKeyword(" + Quote(text) + "), IsValidName(" + Quote(text) + ", " + N(kind) + ")";
        Expect(call, B(lib_->IsKeyword(text)) + B(lib_->IsValidName(text, kind)),
               B(mod_.IsKeyword(text)) + B(model::Server::IsValidName(text, kind)), "name rule");
        break;
      }
      default: {
        if (!mc) break;
        CNameContainer* lc = lib_->GetContainer(c);
        if (!lc) break;  // the tree survey reports it
        const std::string self = "server.GetContainer(" + N(c) + ")->";
        std::uint32_t lid = 0xEEEEEEEE, mid = 0xEEEEEEEE;
        CString lt = u"junk", mt = u"junk";
        switch (r[0] % 16) {
          case 12:
            call = self + "FindIDByName(" + Quote(text) + "), GetIDOfName";
          {
            const HRESULT hr = lc->FindIDByName(text, &lid), mhr = mc->FindIDByName(text, &mid);
            Expect(call, Hr(hr) + " " + N(lid) + " " + N(lc->GetIDOfName(text)),
                   Hr(mhr) + " " + N(mid) + " " + N(mc->GetIDOfName(text)), "container FindIDByName");
          }
            break;
          case 13:
            call = self + "FindNameByID(" + N(nameID) + "), FindNameByIDForAllContainers";
          {
            const HRESULT hr = lc->FindNameByID(nameID, &lt), mhr = mc->FindNameByID(nameID, &mt);
            const std::string lib = Hr(hr) + " " + Quote(lt), mod = Hr(mhr) + " " + Quote(mt);
            lt = mt = u"junk";
            const HRESULT all = lc->FindNameByIDForAllContainers(nameID, &lt);
            const HRESULT mall = mc->FindNameByIDForAllContainers(nameID, &mt);
            Expect(call, lib + " " + Hr(all) + " " + Quote(lt), mod + " " + Hr(mall) + " " + Quote(mt),
                   "container FindNameByID");
          }
            break;
          case 14:
            call = self + "FindName(" + Quote(text) + ", " + B(flag) + ", &id)";
          {
            const HRESULT hr = lc->FindName(text, flag, &lid), mhr = mc->FindName(text, flag, &mid);
            Expect(call, Hr(hr) + " " + N(lid), Hr(mhr) + " " + N(mid), "container FindName");
          }
            break;
          default: {
            call = self + "FindContainerOfName(" + N(nameID) + "), FindRootContainer()";
            const CNameContainer* l = lc->FindContainerOfName(nameID);
            const model::Container* m = mc->FindContainerOfName(nameID);
            Expect(call, N(l ? l->GetID() : 0) + " " + N(lc->FindRootContainer()->GetID()),
                   N(m ? m->id : 0) + " " + N(mc->FindRootContainer()->id), "container FindContainerOfName");
            break;
          }
        }
        break;
      }
    }
    return call;
  }

  std::string List(model::ListKind kind, std::uint32_t c, std::uint32_t r) {
    const int size = mod_.GetNameSize(c);
    static constexpr int kSlack[] = {0, 0, 2, -1};
    int capacity = size + kSlack[r % 4];
    if (r % 9 == 0) capacity = r % 2 ? 0 : -1;
    static const char* kNames[] = {"GetNames", "GetNameIDs", "GetNamesAndIDs"};
    const std::string call = std::string("server.") + kNames[static_cast<int>(kind)] + "(" + N(c) + ", " +
                             std::to_string(capacity) + ", count, ...)";
    const std::size_t room = static_cast<std::size_t>(std::max(capacity, 0)) + 2;
    const CString unwritten(1, u'\uFFFF');
    std::vector<CString> names(room, unwritten);
    std::vector<std::uint32_t> ids(room, 0xFFFFFFFFu);
    int count = -7;
    HRESULT hr = 0;
    switch (kind) {
      case model::ListKind::kNames:
        hr = lib_->GetNames(c, capacity, count, names.data());
        break;
      case model::ListKind::kIDs:
        hr = lib_->GetNameIDs(c, capacity, count, ids.data());
        break;
      case model::ListKind::kNamesAndIDs:
        hr = lib_->GetNamesAndIDs(c, capacity, count, ids.data(), names.data());
        break;
    }
    const model::ListAnswer a = mod_.GetList(kind, c, capacity);
    std::string lib = Hr(hr) + " count " + std::to_string(count);
    std::string mod = Hr(a.status) + " count " + std::to_string(a.countWritten ? a.count : -7);
    std::vector<CString> modNames(room, unwritten);
    std::vector<std::uint32_t> modIDs(room, 0xFFFFFFFFu);
    const std::size_t shown = a.filled ? std::min<std::size_t>(static_cast<std::size_t>(a.count), room) : 0;
    if (a.open) {
      // Which entries come out is open; that each is one of the
      // container's, and that nothing past the count is written, is not.
      const std::vector<CString> head(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(shown));
      const std::vector<std::uint32_t> headIDs(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(shown));
      lib += " " + CheckOpenList(kind == model::ListKind::kNamesAndIDs ? &headIDs : nullptr, head,
                                 *mod_.GetContainer(c));
      mod += " entries ok";
      std::fill(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(shown), unwritten);
      if (kind != model::ListKind::kIDs)
        std::fill(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(shown), 0xFFFFFFFFu);
    }
    if (kind == model::ListKind::kIDs || !a.open) {
      for (std::size_t i = 0; i < shown && i < a.ids.size(); ++i) modIDs[i] = a.ids[i];
    }
    if (!a.open) {
      for (std::size_t i = 0; i < shown && i < a.names.size(); ++i) modNames[i] = a.names[i];
    }
    Expect(call, lib + " " + Ids(ids) + Texts(names), mod + " " + Ids(modIDs) + Texts(modNames),
           kNames[static_cast<int>(kind)]);
    return call;
  }

  bool log_;
  bool survey_;
  std::uint8_t op_ = 0;
  CNotificationManager manager_;
  std::unique_ptr<CNameServer> lib_;
  model::Server mod_;
  std::vector<Seen> seen_;
  std::string bad_;
  Outcome out_;
};

}  // namespace

std::vector<Command> Generate(std::mt19937_64& rng, int length) {
  int total = 0;
  for (int w : kWeights) total += w;
  std::vector<Command> out(static_cast<std::size_t>(length));
  for (Command& cmd : out) {
    int pick = static_cast<int>(rng() % static_cast<std::uint64_t>(total));
    std::uint8_t op = 0;
    while (pick >= kWeights[op]) pick -= kWeights[op++];
    cmd.op = op;
    for (auto& r : cmd.r) r = static_cast<std::uint32_t>(rng());
  }
  // Start with a tree to put names into.
  if (!out.empty()) out[0] = Command{kAddContainer, {0, 1, 0, 0, 0, 0}};
  return out;
}

Outcome Run(const std::vector<Command>& commands, Options options) {
  Runner runner(options);
  return runner.Go(commands);
}

std::vector<Command> Shrink(std::vector<Command> commands, Options options, int budget) {
  options.log = false;
  Outcome first = Run(commands, options);
  if (first.failedStep < 0) return commands;
  commands.resize(static_cast<std::size_t>(first.failedStep) + 1);
  const std::string kind = first.kind;
  auto fails = [&](const std::vector<Command>& candidate) {
    --budget;
    const Outcome o = Run(candidate, options);
    return o.failedStep >= 0 && o.kind == kind;
  };
  std::size_t chunk = std::max<std::size_t>(commands.size() / 2, 1);
  while (budget > 0) {
    bool dropped = false;
    for (std::size_t at = 0; at < commands.size() && budget > 0;) {
      std::vector<Command> candidate = commands;
      candidate.erase(candidate.begin() + static_cast<std::ptrdiff_t>(at),
                      candidate.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, candidate.size())));
      if (!candidate.empty() && fails(candidate)) {
        commands = std::move(candidate);
        dropped = true;
      } else {
        at += chunk;
      }
    }
    if (chunk == 1 && !dropped) break;
    if (!dropped) chunk = std::max<std::size_t>(chunk / 2, 1);
  }
  return commands;
}

std::string Describe(const std::vector<Command>& commands, Options options) {
  options.log = true;
  const Outcome o = Run(commands, options);
  std::string out;
  for (const std::string& call : o.calls)
    if (!call.empty() && call[0] != ';') out += "  " + call + "\n";
  if (o.failedStep >= 0) out += "disagreement (" + o.kind + "):\n  " + o.difference + "\n";
  return out;
}

bool LibraryFoldsLikeModel(std::string* why) {
  const std::uint32_t saved = CNameContainer::GetLastIssuedNameID();
  bool same = true;
  {
    CNameContainer c;
    for (auto [lower, upper] : model::kExtraLetters) {
      const std::uint32_t id = c.AddName(CString(1, lower) + u"x");
      std::uint32_t found = 0;
      if (c.FindIDByName(CString(1, upper) + u"X", &found) != S_OK || found != id) {
        same = false;
        *why = "the library does not fold U+" + std::to_string(static_cast<unsigned>(lower)) + " to U+" +
               std::to_string(static_cast<unsigned>(upper));
      }
    }
  }
  CNameContainer::SetLastIssuedNameID(saved);
  return same;
}

}  // namespace nametree::modeldiff
