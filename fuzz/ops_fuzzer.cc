// A sequence of host operations decoded from the input, run against the
// server and against a plain model of it: every container a tree of
// ordered tables walked the slow, obvious way, with no index anywhere.
// Operations go through the server and straight through containers that
// the server hands out (names, types, sub-containers, loading a saved
// record under another ID, the FromData entries). After every step the
// server's answers to the lookups and checks, and the order of every list,
// must be the model's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"

using namespace nametree;

namespace {

const bool g_verbose = std::getenv("OPS_FUZZER_VERBOSE") != nullptr;
// Leaves out the steps that give a sub-container an ID other than the key
// its parent holds it under, for hunting other faults in a server that
// finds such containers by their new ID.
const bool g_keepIDs = std::getenv("OPS_FUZZER_KEEP_IDS") != nullptr;

#define CHECK(cond)                                                        \
  do {                                                                     \
    if (!(cond)) {                                                         \
      std::fprintf(stderr, "ops_fuzzer: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                        \
    }                                                                      \
  } while (0)

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  CString Text() {
    static const char16_t kUnits[] = u"aAbBzZ_19\u00e9\u03a9 ";
    CString t;
    for (int n = Byte() % 7; n > 0; --n) t.push_back(kUnits[Byte() % (sizeof(kUnits) / 2 - 1)]);
    return t;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Upper case of the units that Input::Text draws from.
CString Upper(const CString& t) {
  CString u;
  for (char16_t c : t) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (c == u'\u00e9') c = u'\u00c9';
    u.push_back(c);
  }
  return u;
}

std::uint32_t BucketHash(std::uint32_t id) { return id >> 4; }
std::uint32_t BucketHash(const CString& t) {
  std::uint32_t h = 0;
  for (char16_t c : t) {
    if (c == 0) break;
    h = h * 33 + c;
  }
  return h;
}

// A keyed table kept as one vector in walk order: buckets ascending, the
// newest key first within its bucket.
template <class Key, class Value>
class Ordered {
 public:
  explicit Ordered(std::uint32_t buckets) : buckets_(buckets) {}
  Value* Find(const Key& k) {
    for (auto& e : entries_)
      if (e.first == k) return &e.second;
    return nullptr;
  }
  void Set(const Key& k, Value v) {
    if (Value* old = Find(k)) {
      *old = std::move(v);
      return;
    }
    const std::uint32_t b = BucketHash(k) % buckets_;
    auto at = std::find_if(entries_.begin(), entries_.end(),
                           [&](const auto& e) { return BucketHash(e.first) % buckets_ >= b; });
    entries_.insert(at, {k, std::move(v)});
  }
  bool Remove(const Key& k, Value* out = nullptr) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == k; });
    if (it == entries_.end()) return false;
    if (out) *out = std::move(it->second);
    entries_.erase(it);
    return true;
  }
  void Clear() { entries_.clear(); }
  std::vector<std::pair<Key, Value>>& Entries() { return entries_; }

 private:
  std::uint32_t buckets_;
  std::vector<std::pair<Key, Value>> entries_;
};

struct MC {
  std::uint32_t id = 0;
  std::int16_t type = 0;
  MC* parent = nullptr;
  Ordered<std::uint32_t, std::unique_ptr<MC>> subs{101};
  Ordered<std::uint32_t, CString> byID{13513};
  Ordered<CString, std::uint32_t> byText{13513};
  std::vector<std::pair<CString, int>> counters;  // base name and last count, in order of first use
  int selected = -1;

  int NextCount(const CString& base) {
    if (selected >= static_cast<int>(counters.size())) selected = -1;
    for (std::size_t i = 0; selected == -1 && !base.empty() && i < counters.size(); ++i)
      if (counters[i].first == base) selected = static_cast<int>(i);
    if (selected == -1) {
      counters.emplace_back(base, 0);
      selected = static_cast<int>(counters.size() - 1);
    }
    return ++counters[static_cast<std::size_t>(selected)].second;
  }
  bool HasSubs() { return !subs.Entries().empty(); }
  void AddNameFromData(std::uint32_t nid, const CString& text) {
    byID.Set(nid, text);
    byText.Set(Upper(text), nid);
  }
  HRESULT DeleteName(std::uint32_t nid) {
    CString text;
    if (nid == 0 || !byID.Remove(nid, &text)) return E_FAIL;
    byText.Remove(Upper(text));
    return S_OK;
  }
  HRESULT Rename(std::uint32_t nid, const CString& text) {
    if (nid == 0 || text.empty()) return E_FAIL;
    CString* cur = byID.Find(nid);
    if (!cur) return S_FALSE;
    const CString oldKey = Upper(*cur);
    *cur = text;
    byText.Remove(oldKey);
    byText.Set(Upper(text), nid);
    return S_OK;
  }
  HRESULT Rename(const CString& oldText, const CString& text) {
    if (oldText.empty() || text.empty()) return E_FAIL;
    std::uint32_t nid = 0;
    if (!byText.Remove(Upper(oldText), &nid)) return S_FALSE;
    byID.Set(nid, text);
    byText.Set(Upper(text), nid);
    return S_OK;
  }
  HRESULT DeleteContainer(std::uint32_t key) {
    if (key == 0 || !HasSubs()) return E_FAIL;
    return subs.Remove(key) ? S_OK : S_FALSE;
  }
  void Shutdown() {
    subs.Clear();
    parent = nullptr;
    byID.Clear();
    byText.Clear();
  }
  MC* FindContainer(std::uint32_t key) {
    if (key == 0 || !HasSubs()) return nullptr;
    if (auto* direct = subs.Find(key)) return direct->get();
    for (auto& [k, child] : subs.Entries())
      if (child->HasSubs())
        if (MC* found = child->FindContainer(key)) return found;
    return nullptr;
  }
  MC* FindContainerOfName(std::uint32_t nid) {
    if (nid == 0) return nullptr;
    if (byID.Find(nid)) return this;
    for (auto& [k, child] : subs.Entries())
      if (MC* found = child->FindContainerOfName(nid)) return found;
    return nullptr;
  }
  const CString* FindNameByIDForAll(std::uint32_t nid) {
    if (nid != 0)
      if (const CString* t = byID.Find(nid)) return t;
    for (auto& [k, child] : subs.Entries())
      if (const CString* t = child->FindNameByIDForAll(nid)) return t;
    return nullptr;
  }
  // FindName of an upper-cased, non-empty key.
  const std::uint32_t* FindName(const CString& key, bool recurse) {
    if (const std::uint32_t* nid = byText.Find(key)) return nid;
    if (!recurse) return nullptr;
    for (auto& [k, child] : subs.Entries()) {
      if (child->type != 2 && child->type != 3 && child->type != 4) continue;
      if (const std::uint32_t* nid = child->FindName(key, true)) return nid;
    }
    return nullptr;
  }
  MC* Root() {
    MC* c = this;
    while (c->parent) c = c->parent;
    return c;
  }
};

// What a saved container record holds, read back from the model.
struct Record {
  std::uint32_t id;
  std::int16_t type;
  std::vector<std::pair<std::uint32_t, CString>> names;
  std::vector<Record> subs;
};

Record RecordOf(MC& c) {
  Record r{c.id, c.type, c.byID.Entries(), {}};
  for (auto& [k, child] : c.subs.Entries()) r.subs.push_back(RecordOf(*child));
  return r;
}

void LoadRecord(MC& c, const Record& r) {
  c.id = r.id;
  c.type = r.type;
  for (const auto& [nid, text] : r.names) c.AddNameFromData(nid, text);
  for (const Record& s : r.subs) {
    auto child = std::make_unique<MC>();
    LoadRecord(*child, s);
    child->parent = &c;
    c.subs.Set(s.id, std::move(child));
  }
}

struct Model {
  std::vector<std::unique_ptr<MC>> tops;
  std::vector<CString> keywords;

  bool IsTop(const MC* m) const {
    return std::any_of(tops.begin(), tops.end(), [&](auto& t) { return t.get() == m; });
  }

  MC* GetContainer(std::uint32_t id) {
    if (id == 0) return nullptr;
    for (auto& t : tops) {
      if (t->id == id) return t.get();
      if (t->HasSubs())
        if (MC* found = t->FindContainer(id)) return found;
    }
    return nullptr;
  }
  MC* FindContainerOfName(std::uint32_t nid) {
    for (auto& t : tops)
      if (MC* found = t->FindContainerOfName(nid)) return found;
    return nullptr;
  }
  bool IsKeyword(const CString& text) {
    return std::find(keywords.begin(), keywords.end(), Upper(text)) != keywords.end();
  }
  const std::uint32_t* InGlobal(const CString& text) {
    if (text.empty()) return nullptr;
    for (auto& t : tops)
      if (t->type == 2)
        if (const std::uint32_t* nid = t->FindName(Upper(text), true)) return nid;
    return nullptr;
  }
  bool InTargets(const CString& text, std::uint32_t topID) {
    if (text.empty()) return false;
    for (auto& t : tops) {
      if (topID == kAllTargets ? t->type == 3 : t->id == topID)
        if (t->FindName(Upper(text), true)) return true;
    }
    return false;
  }
  bool IsDuplicateName(std::uint32_t cid, const CString& text, bool confine) {
    MC* c = GetContainer(cid);
    if (!c) return false;
    if (c->type == 0 || (c->type == 4 && confine))
      return (!text.empty() && c->byText.Find(Upper(text))) || IsKeyword(text) || InGlobal(text);
    MC* root = c->Root();
    if (root->type == 2) return IsKeyword(text) || InGlobal(text) || InTargets(text, kAllTargets);
    return IsKeyword(text) || InTargets(text, root->id) || InGlobal(text);
  }
  bool FindName(std::uint32_t cid, const CString& text, bool descend) {
    if (cid == 0 || text.empty()) return false;
    for (auto& t : tops) {
      if (t->id == cid) {
        if (t->FindName(Upper(text), descend)) return true;
      } else if (t->HasSubs()) {
        if (MC* c = t->FindContainer(cid))
          if (c->FindName(Upper(text), descend)) return true;
      }
    }
    return false;
  }
  std::uint32_t GetID(std::uint32_t cid, const CString& text) {
    if (cid == 0) return static_cast<std::uint32_t>(E_FAIL);
    if (const std::uint32_t* nid = InGlobal(text)) return *nid;
    MC* c = GetContainer(cid);
    if (!c) return 0;
    const std::uint32_t* nid = c->byText.Find(Upper(text));
    return nid ? *nid : 0;
  }
  const CString* GetName(std::uint32_t nid) {
    for (auto& t : tops)
      if (const CString* text = t->FindNameByIDForAll(nid)) return text;
    return nullptr;
  }
  HRESULT DeleteContainer(std::uint32_t id) {
    MC* c = GetContainer(id);
    if (!c) return S_OK;
    if (c->parent) return c->parent->DeleteContainer(id) == S_OK ? S_OK : E_FAIL;
    auto it = std::find_if(tops.begin(), tops.end(), [&](auto& t) { return t->id == id; });
    if (it == tops.end()) return E_FAIL;
    tops.erase(it);
    return S_OK;
  }
};

// Containers and names together.
std::size_t CountNodes(MC& c) {
  std::size_t n = 1 + c.byID.Entries().size();
  for (auto& [k, child] : c.subs.Entries()) n += CountNodes(*child);
  return n;
}

std::size_t CountNodes(Model& model) {
  std::size_t n = 0;
  for (auto& t : model.tops) n += CountNodes(*t);
  return n;
}

// The IDs of every container (its own and the key it is held under), of
// every name, and the texts of the names.
void CollectIDs(MC& c, std::vector<std::uint32_t>& containers, std::vector<std::uint32_t>& names,
                std::vector<CString>& texts) {
  containers.push_back(c.id);
  for (auto& [nid, text] : c.byID.Entries()) {
    names.push_back(nid);
    texts.push_back(text);
  }
  for (auto& [k, child] : c.subs.Entries()) {
    containers.push_back(k);
    CollectIDs(*child, containers, names, texts);
  }
}

// The container as the server shows it, against the model's.
void CompareContainer(const CNameContainer* real, MC* m) {
  CHECK((real == nullptr) == (m == nullptr));
  if (!real) return;
  CHECK(real->GetID() == m->id);
  CHECK(real->GetContainerType() == m->type);
  CHECK(real->GetParentID() == (m->parent ? m->parent->id : 0));
  const int n = real->GetNumNames();
  CHECK(n == static_cast<int>(m->byText.Entries().size()));
  std::vector<std::uint32_t> ids(static_cast<std::size_t>(n) + 1);
  real->GetAllIDsInContainer(ids.data());
  for (int i = 0; i < n; ++i) CHECK(ids[static_cast<std::size_t>(i)] == m->byText.Entries()[static_cast<std::size_t>(i)].second);
  // With names equal but for case the two tables differ in size, and which
  // entries the pair list holds is not fixed.
  if (m->byID.Entries().size() == static_cast<std::size_t>(n)) {
    std::vector<CString> texts(static_cast<std::size_t>(n) + 1);
    real->GetAllNameAndIDsInContainer(texts.data(), ids.data());
    for (int i = 0; i < n; ++i) {
      CHECK(ids[static_cast<std::size_t>(i)] == m->byID.Entries()[static_cast<std::size_t>(i)].first);
      CHECK(texts[static_cast<std::size_t>(i)] == m->byID.Entries()[static_cast<std::size_t>(i)].second);
    }
  }
  const int subs = real->GetNumSubContainers();
  CHECK(subs == static_cast<int>(m->subs.Entries().size()));
  std::vector<std::uint32_t> keys(static_cast<std::size_t>(subs) + 1);
  CHECK(real->GetSubContainerIDs(keys.data()) == subs);
  for (int i = 0; i < subs; ++i) CHECK(keys[static_cast<std::size_t>(i)] == m->subs.Entries()[static_cast<std::size_t>(i)].first);
}

// At most `limit` of the entries, spread over all of them.
template <class T>
std::vector<T> Sample(const std::vector<T>& all, std::size_t limit, std::size_t salt) {
  if (all.size() <= limit) return all;
  std::vector<T> some;
  for (std::size_t i = 0; i < limit; ++i) some.push_back(all[(salt + i * all.size() / limit) % all.size()]);
  return some;
}

void CompareAll(const CNameServer& server, Model& model, std::size_t salt) {
  std::vector<std::uint32_t> containers{0, 1, 2, 3, 100, 0xFFFFFFFFu}, names;
  std::vector<CString> texts{u"", u"a", u"Ab", u"AB_1"};
  for (auto& t : model.tops) CollectIDs(*t, containers, names, texts);
  std::vector<std::uint32_t> tops;
  for (auto& t : model.tops) tops.push_back(t->id);
  CHECK(server.GetTopLevelContainerIDs() == tops);
  for (std::uint32_t id : containers) {
    if (g_verbose && (server.GetContainer(id) == nullptr) != (model.GetContainer(id) == nullptr))
      std::fprintf(stderr, "  container %u: server %s, model %s\n", id, server.GetContainer(id) ? "found" : "none",
                   model.GetContainer(id) ? "found" : "none");
    CompareContainer(server.GetContainer(id), model.GetContainer(id));
  }
  // The name lookups and checks on a sample, different at every step.
  names = Sample(names, 12, salt);
  names.insert(names.end(), {0, 2, 0xFFFFFFFFu});
  for (std::uint32_t id : names) {
    const CNameContainer* holder = server.FindContainerOfName(id);
    MC* mholder = model.FindContainerOfName(id);
    CHECK((holder == nullptr) == (mholder == nullptr));
    if (holder) CHECK(holder->GetID() == mholder->id);
    CString got = u"unchanged";
    const CString* text = model.GetName(id);
    CHECK(server.GetName(id, got) == (text ? S_OK : E_FAIL));
    CHECK(got == (text ? *text : CString(u"unchanged")));
  }
  texts = Sample(texts, 12, salt);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const CString& text = texts[i];
    CHECK(server.IsGlobalName(text) == (model.InGlobal(text) != nullptr));
    for (int k = 0; k < 2; ++k) {
      const std::uint32_t cid = containers[(i * 7 + static_cast<std::size_t>(k) * 13 + salt) % containers.size()];
      for (bool flag : {false, true}) {
        CHECK(server.IsDuplicateName(cid, text, flag) == model.IsDuplicateName(cid, text, flag));
        CHECK(server.FindName(cid, text, flag) == model.FindName(cid, text, flag));
      }
      CHECK(server.GetID(cid, text) == model.GetID(cid, text));
    }
  }
}

constexpr std::int16_t kTypes[] = {0, 1, 2, 3, 4, 5};

std::uint32_t PickID(Model& model, Input& in) {
  std::vector<std::uint32_t> ids, names;
  std::vector<CString> texts;
  for (auto& t : model.tops) CollectIDs(*t, ids, names, texts);
  ids.insert(ids.end(), names.begin(), names.end());
  const std::uint8_t b = in.Byte();
  if (ids.empty() || b % 8 == 7) return b;  // sometimes an ID that may name nothing
  return ids[b % ids.size()];
}

// A name ID of the container when it has names, else any ID.
std::uint32_t PickName(MC* m, Model& model, Input& in) {
  const std::uint8_t b = in.Byte();
  if (m && !m->byID.Entries().empty() && b % 4) return m->byID.Entries()[b % m->byID.Entries().size()].first;
  return PickID(model, in);
}

// Operations through a container the server hands out.
void DirectStep(CNameServer& server, Model& model, Input& in) {
  const std::uint32_t cid = PickID(model, in);
  CNameContainer* real = server.GetContainer(cid);
  MC* m = model.GetContainer(cid);
  CompareContainer(real, m);
  if (!real) return;
  const int op = in.Byte() % 11;
  if (g_verbose) std::fprintf(stderr, "  direct %d on %u\n", op, cid);
  switch (op) {
    case 0: {
      const CString text = in.Text();
      const std::uint32_t nid = real->AddName(text);
      CHECK(nid == CNameContainer::GetLastIssuedNameID());
      m->AddNameFromData(nid, text);
      break;
    }
    case 1: {
      const std::uint32_t nid = PickName(m, model, in);
      CHECK(real->DeleteName(nid) == m->DeleteName(nid));
      break;
    }
    case 2: {
      const std::uint32_t nid = PickName(m, model, in);
      const CString text = in.Text();
      CHECK(real->Rename(nid, text) == m->Rename(nid, text));
      break;
    }
    case 3: {
      const std::uint32_t nid = PickName(m, model, in);
      const CString* old = m->byID.Find(nid);
      const CString oldText = old && in.Byte() % 2 ? *old : in.Text();
      const CString text = in.Text();
      CHECK(real->Rename(oldText, text) == m->Rename(oldText, text));
      break;
    }
    case 4: {
      const std::int16_t type = kTypes[in.Byte() % 6];
      real->SetContainerType(type);
      m->type = type;
      break;
    }
    case 5: {
      const std::int16_t type = kTypes[in.Byte() % 6];
      const std::uint32_t id = real->AddContainer(type);
      CHECK(id == CNameContainer::GetLastIssuedNameID());
      auto child = std::make_unique<MC>();
      child->id = id;
      child->type = type;
      child->parent = m;
      m->subs.Set(id, std::move(child));
      break;
    }
    case 6: {
      const std::uint32_t key = PickID(model, in);
      CHECK(real->DeleteContainer(key) == m->DeleteContainer(key));
      break;
    }
    case 7:
      if (in.Byte() % 2) {
        real->ResetContainer();
        m->byID.Clear();
        m->byText.Clear();
      } else {
        real->Shutdown();
        m->Shutdown();
      }
      break;
    case 8: {
      // Load a saved record of some container into this one, perhaps under another ID.
      const std::uint32_t sid = PickID(model, in);
      CNameContainer* source = server.GetContainer(sid);
      MC* msource = model.GetContainer(sid);
      // Loading an ancestor into its descendant doubles a subtree; keep documents small.
      if (!source || CountNodes(model) > 150) break;
      Record record = RecordOf(*msource);
      ComPtr<IStream> stream = CreateMemoryStream();
      CHECK(source->Save(stream.Get()) == S_OK);
      std::vector<std::uint8_t> bytes = MemoryStreamBytes(stream.Get());
      if (in.Byte() % 2) {
        record.id = in.Byte() % 2 ? PickID(model, in) : 100 + in.Byte();
        for (int i = 0; i < 4; ++i) bytes[2 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(record.id >> (8 * i));
      }
      if (g_keepIDs && record.id != m->id && !model.IsTop(m)) break;
      CHECK(real->Load(CreateMemoryStream(std::move(bytes)).Get()) == S_OK);
      LoadRecord(*m, record);
      break;
    }
    case 9: {
      const std::uint32_t id = in.Byte() % 2 ? PickID(model, in) : 200 + in.Byte();
      const std::int16_t type = kTypes[in.Byte() % 6];
      const bool create = in.Byte() % 2;
      if (g_verbose) std::fprintf(stderr, "  %s %u type %d\n", create ? "create" : "add", id, type);
      if (create) {
        if (g_keepIDs && id != m->id && !model.IsTop(m)) break;
        CHECK(real->CreateContainerFromData(id, type) == S_OK);
        m->subs.Clear();
        m->parent = nullptr;
        m->type = type;
        m->id = id;
      } else {
        CHECK(real->AddContainerFromData(real, id, type) == S_OK);
        MC* present = nullptr;
        if (auto* slot = m->subs.Find(id)) present = slot->get();
        if (!present || present->type != type) {
          auto child = std::make_unique<MC>();
          child->id = id;
          child->type = type;
          child->parent = m;
          m->subs.Set(id, std::move(child));
        }
      }
      break;
    }
    case 10: {
      const std::uint32_t nid = in.Byte() % 2 ? PickID(model, in) : 300 + in.Byte();
      const CString text = in.Text();
      CHECK(real->AddNameFromData(nid, text, 0) == S_OK);
      m->AddNameFromData(nid, text);
      break;
    }
  }
}

void ServerStep(CNameServer& server, Model& model, Input& in, int op) {
  switch (op) {
    case 0: {
      const std::uint32_t parent = in.Byte() % 3 == 0 ? 0 : PickID(model, in);
      const std::int16_t type = kTypes[in.Byte() % 6];
      MC* mparent = model.GetContainer(parent);
      const std::uint32_t id = server.AddContainer(parent, type);
      if (parent != 0 && !mparent) {
        CHECK(id == 0);
        break;
      }
      CHECK(id != 0 && id == CNameContainer::GetLastIssuedNameID());
      auto c = std::make_unique<MC>();
      c->id = id;
      c->type = type;
      c->parent = mparent;
      if (mparent) {
        mparent->subs.Set(id, std::move(c));
      } else {
        model.tops.push_back(std::move(c));
      }
      break;
    }
    case 1: {
      const std::uint32_t cid = PickID(model, in);
      const CString text = in.Text();
      const std::uint32_t kind = in.Byte() % 4 == 0 ? kAllowLeadingUnderscore : kOrdinaryName;
      const bool check = in.Byte() % 4 != 0, confine = in.Byte() & 1;
      HRESULT expected = S_OK;
      MC* m = model.GetContainer(cid);
      if (cid == 0) {
        expected = E_FAIL;
      } else if (kind != kAllowLeadingUnderscore && !server.IsValidName(text, kind)) {
        expected = E_NAME_INVALID;
      } else if (check && model.IsDuplicateName(cid, text, confine)) {
        expected = E_NAME_DUPLICATE;
      } else if (!m) {
        expected = E_FAIL;
      }
      std::uint32_t id = 0;
      CHECK(server.AddName(id, cid, text, kind, check, confine) == expected);
      if (expected == S_OK) {
        CHECK(id == CNameContainer::GetLastIssuedNameID());
        m->AddNameFromData(id, text);
      }
      break;
    }
    case 2: {
      const std::uint32_t cid = PickID(model, in);
      MC* m = model.GetContainer(cid);
      const std::uint32_t nid = PickName(m, model, in);
      const HRESULT expected = nid == 0 ? E_FAIL : m ? m->DeleteName(nid) : S_OK;
      CHECK(server.DeleteName(cid, nid, in.Byte() & 1) == expected);
      break;
    }
    case 3: {
      // By ID, with the container or with 0.
      const std::uint32_t cid = in.Byte() % 2 ? 0 : PickID(model, in);
      MC* m = cid ? model.GetContainer(cid) : nullptr;
      const std::uint32_t nid = PickName(m ? m : model.FindContainerOfName(PickID(model, in)), model, in);
      const CString text = in.Text();
      const std::uint32_t kind = in.Byte() % 4 == 0 ? kAllowLeadingUnderscore : kOrdinaryName;
      const bool confine = in.Byte() & 1;
      std::uint32_t checked = cid;
      if (cid == 0) {
        m = model.FindContainerOfName(nid);
        if (m) checked = m->id;
      }
      const CString* current = m ? m->byID.Find(nid) : nullptr;
      const CString cur = current ? *current : CString();
      HRESULT expected;
      if (nid == 0 || text.empty() || !m) {
        expected = E_FAIL;
      } else if (text == cur) {
        expected = S_FALSE;
      } else if (!server.IsValidName(text, kind)) {
        expected = E_NAME_INVALID;
      } else if (Upper(text) != Upper(cur) && model.IsDuplicateName(checked, text, confine)) {
        expected = E_NAME_DUPLICATE;
      } else {
        expected = m->Rename(nid, text);
      }
      CHECK(server.Rename(cid, nid, text, kind, in.Byte() & 1, confine) == expected);
      break;
    }
    case 4: {
      const std::uint32_t cid = PickID(model, in);
      MC* m = model.GetContainer(cid);
      const std::uint32_t nid = PickName(m, model, in);
      const CString* held = m ? m->byID.Find(nid) : nullptr;
      const CString oldText = held && in.Byte() % 4 ? *held : in.Text();
      const CString text = in.Text();
      const std::uint32_t kind = in.Byte() % 4 == 0 ? kAllowLeadingUnderscore : kOrdinaryName;
      const bool confine = in.Byte() & 1;
      HRESULT expected;
      if (oldText.empty() || text.empty() || cid == 0) {
        expected = E_FAIL;
      } else if (Upper(oldText) == Upper(text)) {
        expected = S_OK;
      } else if (!server.IsValidName(text, kind)) {
        expected = E_NAME_INVALID;
      } else if (model.IsDuplicateName(cid, text, confine)) {
        expected = E_NAME_DUPLICATE;
      } else if (!m) {
        expected = E_FAIL;
      } else if (const std::uint32_t* id = m->byText.Find(Upper(oldText))) {
        expected = m->Rename(*id, text);
      } else {
        expected = S_FALSE;
      }
      CHECK(server.Rename(cid, oldText, text, kind, in.Byte() & 1, confine) == expected);
      break;
    }
    case 5: {
      const std::uint32_t cid = PickID(model, in);
      const HRESULT expected = model.DeleteContainer(cid);
      CHECK(server.DeleteContainer(cid, in.Byte() & 1) == expected);
      break;
    }
    case 6: {
      const CString text = in.Text();
      const bool fresh = !model.IsKeyword(text);
      CHECK(server.AddKeyword(text) == (fresh ? S_OK : S_FALSE));
      if (fresh) model.keywords.push_back(Upper(text));
      break;
    }
    case 7: {
      // Bases of at most six units and at most four digits never meet the length rule.
      const std::uint32_t cid = PickID(model, in);
      const CString base = in.Text();
      const int digits = in.Byte() % 5;
      CString clean;
      for (char16_t c : base)
        if (c != u'_' && c != u' ') clean.push_back(c);
      MC* m = model.GetContainer(cid);
      HRESULT expected = S_FALSE;
      CString proposal;
      if (cid != 0 && !clean.empty() && m) {
        m->selected = -1;
        for (int count = m->NextCount(clean);; count = m->NextCount(clean)) {
          CString number;
          for (int v = count; v; v /= 10) number.insert(number.begin(), static_cast<char16_t>(u'0' + v % 10));
          if (number.size() < static_cast<std::size_t>(digits)) number.insert(0, static_cast<std::size_t>(digits) - number.size(), u'0');
          if (!m->byText.Find(Upper(clean + number))) {
            proposal = clean + number;
            expected = S_OK;
            break;
          }
        }
      }
      CString got = u"untouched";
      CHECK(server.GetNextName(cid, base, digits, &got) == expected);
      CHECK(got == (cid == 0 ? CString(u"untouched") : proposal));
      break;
    }
    case 8: {
      // Saved and loaded again, the document is the model with every
      // sub-container held under its own ID.
      ComPtr<IStorage> storage = CreateMemoryStorage();
      if (server.Save(storage.Get()) != S_OK) break;  // a table beyond the record's 16-bit counts
      CNameServer reloaded;
      CHECK(reloaded.Load(storage.Get()) == S_OK);
      Model copy;
      for (auto& t : model.tops) {
        copy.tops.push_back(std::make_unique<MC>());
        LoadRecord(*copy.tops.back(), RecordOf(*t));
      }
      CompareAll(reloaded, copy, 0);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  CNotificationManager manager;
  CNameServer server;
  server.Initialize(&manager);
  Model model;

  for (int step = 0; step < 80 && !in.Empty(); ++step) {
    const int op = in.Byte() % 12;
    if (g_verbose) std::fprintf(stderr, "step %d: op %d\n", step, op);
    if (op >= 9) {
      DirectStep(server, model, in);
    } else {
      ServerStep(server, model, in, op);
    }
    CompareAll(server, model, static_cast<std::size_t>(step));
  }
  return 0;
}
