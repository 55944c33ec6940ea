// The edit check indexes every name twice, by the text as names compare and
// by its look-alike key, and every container by where it sits (its top-level
// container, that one's type, whether a tree search enters it). A name's
// findings depend only on the names under its two keys, and equal texts
// have equal look-alike keys, so an edit can change the findings of no name
// outside the look-alike keys of the texts it touches: those names are
// judged before and after, as the whole-document check judges them.
//
// Invariant between edits: the indexes hold exactly the server's names and
// containers. After() restores it for the one edit announced by Before*().
#include <algorithm>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "model/look_alike.h"
#include "nametree/document_check.h"
#include "nametree/tree_walk.h"
#include "platform/text.h"
#include "server/namespace_policy.h"

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;
using Kind = DocumentFindingKind;

struct Holder {
  std::uint32_t id = 0;
  const CNameContainer* container = nullptr;
  bool operator==(const Holder&) const = default;
};

// Holders by the hash of a key; a match is confirmed on the text itself.
// One flat table: open-addressed slots, each 32 bits of a hash and the head
// of its chain through `entries_` (keys whose bits meet share a chain). A
// slot whose chain empties keeps its hash until the table grows, so a probe
// never meets a hole that was once filled.
class KeyIndex {
 public:
  void Insert(std::uint64_t full, const Holder& h) {
    const std::uint32_t hash = Fold(full);
    if ((used_ + 1) * 2 > slots_.size()) Grow(slots_.size() * 2);
    Slot& s = slots_[Probe(hash)];
    if (s.head == kNever) {
      s.hash = hash;
      ++used_;
    }
    std::uint32_t e = free_;
    if (e != kNone) {
      free_ = entries_[e].next;
      entries_[e] = {h, s.head == kNever ? kNone : s.head};
    } else {
      e = static_cast<std::uint32_t>(entries_.size());
      entries_.push_back({h, s.head == kNever ? kNone : s.head});
    }
    s.head = e;
  }
  void Erase(std::uint64_t full, const Holder& h) {
    if (slots_.empty()) return;
    Slot& s = slots_[Probe(Fold(full))];
    for (std::uint32_t* link = &s.head; *link != kNone && *link != kNever; link = &entries_[*link].next) {
      const std::uint32_t e = *link;
      if (entries_[e].h == h) {
        *link = entries_[e].next;
        entries_[e].next = free_;
        free_ = e;
        return;
      }
    }
  }
  template <class F>
  void ForEach(std::uint64_t full, F&& f) const {
    if (slots_.empty()) return;
    const Slot& s = slots_[Probe(Fold(full))];
    if (s.head == kNever) return;
    for (std::uint32_t e = s.head; e != kNone; e = entries_[e].next) f(entries_[e].h);
  }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;   // end of a chain
  static constexpr std::uint32_t kNever = 0xFFFFFFFE;  // a slot never claimed
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t head = kNever;
  };
  struct Entry {
    Holder h;
    std::uint32_t next = kNone;
  };
  static std::uint32_t Fold(std::uint64_t hash) { return static_cast<std::uint32_t>(hash ^ (hash >> 32)); }
  // The slot of the hash, or the free slot where it would go.
  std::size_t Probe(std::uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = (hash ^ (hash >> 17)) & mask;
    while (slots_[i].head != kNever && slots_[i].hash != hash) i = (i + 1) & mask;
    return i;
  }
  void Grow(std::size_t want) {
    std::size_t size = 8;
    while (size < want) size *= 2;
    std::vector<Slot> old(size);
    old.swap(slots_);
    used_ = 0;
    for (const Slot& s : old)
      if (s.head != kNever && s.head != kNone) {
        slots_[Probe(s.hash)] = s;
        ++used_;
      }
  }
  std::vector<Slot> slots_;
  std::vector<Entry> entries_;
  std::size_t used_ = 0;
  std::uint32_t free_ = kNone;
};

// FNV-1a over UTF-16 units, so that a key hashed unit by unit as it is
// made equals the hash of the key made first.
constexpr std::uint64_t kHashStart = 1469598103934665603ull;
inline std::uint64_t HashUnit(std::uint64_t h, char16_t u) { return (h ^ u) * 1099511628211ull; }
std::uint64_t HashOf(const CString& key) {
  std::uint64_t h = kHashStart;
  for (char16_t u : key) h = HashUnit(h, u);
  return h;
}

struct Place {
  int depth = 0;
  std::uint32_t topId = 0;
  std::int16_t topType = 0;
  bool searched = true;
};

enum class Change { kNone, kAddName, kRename, kDeleteName, kDeleteContainer, kAddContainer, kKeyword };

using FindingKey = std::tuple<int, std::uint32_t, std::uint32_t, int>;
FindingKey KeyOf(const DocumentFinding& f) {
  return {static_cast<int>(f.kind), f.containerID, f.nameID, static_cast<int>(f.where)};
}

}  // namespace

struct EditCheck::State {
  const CNameServer& server;
  std::unordered_set<CString> keywords;
  LookAlikeKey lookAlike;
  bool built = false;
  // By look-alike key only: equal texts have equal keys, so the holders of
  // a text are found among those of its key.
  KeyIndex byLook;
  std::unordered_map<const CNameContainer*, Place> places;

  // The edit announced.
  Change change = Change::kNone;
  std::vector<CString> touched;        // look-alike keys
  std::vector<std::pair<Holder, CString>> gone;  // names a delete or rename takes away, with their texts
  std::vector<const CNameContainer*> goneContainers;
  std::set<FindingKey> before;

  State(const CNameServer& s, const DocumentCheckOptions& options) : server(s) {
    for (const CString& k : options.keywords) keywords.insert(ToUpper(k));
  }

  CString Text(const Holder& h) const {
    CString text;
    h.container->FindNameByID(h.id, &text);
    return text;
  }
  CString Look(const CString& upper) const { return lookAlike(upper); }

  void Insert(const Holder& h, const CString& text) { byLook.Insert(LookHash(text), h); }
  void Remove(const Holder& h, const CString& text) { byLook.Erase(LookHash(text), h); }
  // The hash of the look-alike key; ASCII text (the common case) is hashed
  // as it is read, without making the key.
  std::uint64_t LookHash(std::u16string_view text) const {
    std::uint64_t look = kHashStart;
    for (char16_t u : text) {
      const char16_t c = u >= 'a' && u <= 'z' ? static_cast<char16_t>(u - 0x20) : u;
      const CString* key = lookAlike.AsciiKey(c);
      if (!key) return HashOf(Look(ToUpper(text)));
      for (char16_t k : *key) look = HashUnit(look, k);
    }
    return look;
  }

  void PlaceContainer(const CNameContainer& c, int depth) {
    Place p;
    p.depth = depth;
    if (const CNameContainer* parent = c.GetParent(); parent && depth > 0) {
      const Place& above = places.at(parent);
      const std::int16_t t = c.GetContainerType();
      p.topId = above.topId;
      p.topType = above.topType;
      p.searched = above.searched && (t == kGlobalContainer || t == kTargetContainer || t == kLocalCheckContainer);
    } else {
      p.topId = c.GetID();
      p.topType = c.GetContainerType();
    }
    places[&c] = p;
  }

  void Build() {
    if (built) return;
    built = true;
    for (ContainerRef c : TreeWalk(server)) {
      PlaceContainer(c.Container(), c.Depth());
      for (NameRef n : c.Names()) byLook.Insert(LookHash(n.Text()), {n.Id(), &c.Container()});
    }
  }

  // The names under one look-alike key, with their texts: every name whose
  // findings the key decides, and every other holder those findings name.
  struct Member {
    Holder h;
    CString text, upper;
  };
  using Group = std::vector<Member>;
  Group GroupOf(const CString& look) const {
    Group group;
    byLook.ForEach(HashOf(look), [&](const Holder& h) {
      CString text = Text(h);
      CString upper = ToUpper(text);
      if (HasLook(upper, look)) group.push_back({h, std::move(text), std::move(upper)});
    });
    return group;
  }
  // Look(upper) == look, without making the key of ASCII text.
  bool HasLook(const CString& upper, const CString& look) const {
    std::size_t at = 0;
    for (char16_t c : upper) {
      const CString* key = lookAlike.AsciiKey(c);
      if (!key) return Look(upper) == look;
      if (look.compare(at, key->size(), *key) != 0) return false;
      at += key->size();
    }
    return at == look.size();
  }
  template <class Keep>
  std::vector<Holder> Filter(const Group& group, Keep&& keep) const {
    std::vector<Holder> out;
    for (const Member& m : group)
      if (keep(m)) out.push_back(m.h);
    return out;
  }

  // Walk order: containers in pre-order, names of one container in its
  // table's order, all before those of its sub-containers.
  static std::vector<const CNameContainer*> Chain(const CNameContainer* c) {
    std::vector<const CNameContainer*> chain;
    for (; c; c = c->GetParent()) chain.push_back(c);
    std::reverse(chain.begin(), chain.end());
    return chain;
  }
  bool ContainerFirst(const CNameContainer* a, const CNameContainer* b) const {
    const auto ca = Chain(a), cb = Chain(b);
    std::size_t i = 0;
    while (i < ca.size() && i < cb.size() && ca[i] == cb[i]) ++i;
    if (i == ca.size() || i == cb.size()) return ca.size() < cb.size();  // an ancestor comes first
    if (i == 0) {
      for (const CNameContainer* top : server.GetTopLevelContainers())
        if (top == ca[0] || top == cb[0]) return top == ca[0];
      return false;
    }
    for (ContainerRef child : ContainerRef(*ca[i - 1], 0).Children())
      if (&child.Container() == ca[i] || &child.Container() == cb[i]) return &child.Container() == ca[i];
    return false;
  }
  // The first of the holders in walk order.
  Holder Earliest(const std::vector<Holder>& holders) const {
    const CNameContainer* first = holders.front().container;
    for (const Holder& h : holders)
      if (h.container != first && ContainerFirst(h.container, first)) first = h.container;
    std::vector<std::uint32_t> ids;
    for (const Holder& h : holders)
      if (h.container == first) ids.push_back(h.id);
    if (ids.size() > 1)
      for (NameRef n : ContainerRef(*first, 0).Names())
        if (std::find(ids.begin(), ids.end(), n.Id()) != ids.end()) return {n.Id(), first};
    return {ids.front(), first};
  }

  void SetContainer(DocumentFinding& f, const CNameContainer& c) const {
    const ContainerRef ref(c, places.at(&c).depth);
    f.containerID = ref.Id();
    f.containerType = ref.Type();
    f.path = ref.Path();
  }
  void SetOther(DocumentFinding& f, const Holder& o) const {
    const ContainerRef ref(*o.container, places.at(o.container).depth);
    f.otherIsName = true;
    f.otherContainerID = ref.Id();
    f.otherContainerType = ref.Type();
    f.otherPath = ref.Path();
    f.otherNameID = o.id;
    f.otherText = Text(o);
  }

  bool IsKeyword(const CString& text, const CString& upper) const {
    return server.IsKeyword(text) || keywords.count(upper) != 0;
  }
  // The first holder of the text in the container, when it is not m itself.
  std::optional<Holder> HeldBefore(const Member& m, const Group& group) const {
    if (group.size() < 2) return std::nullopt;
    std::vector<Holder> same =
        Filter(group, [&](const Member& o) { return o.h.container == m.h.container && o.upper == m.upper; });
    if (same.size() < 2) return std::nullopt;
    const Holder first = Earliest(same);
    return first == m.h ? std::nullopt : std::optional<Holder>(first);
  }

  // Whether a holder's container belongs to the namespace as seen from `at`.
  bool InNamespace(Where where, const Place& at, const Holder& o) const {
    const Place& p = places.at(o.container);
    if (!p.searched) return false;
    switch (where) {
      case Where::kGlobal: return p.topType == kGlobalContainer;
      case Where::kTarget: return p.topType == kTargetContainer;
      case Where::kOwnTree: return at.topType != kGlobalContainer && p.topType != kGlobalContainer && p.topId == at.topId;
      default: return false;
    }
  }

  // The findings of one name of the group, as the whole-document check
  // reports them.
  void Judge(const Member& m, const Group& group, std::vector<DocumentFinding>& out) const {
    const Holder& h = m.h;
    const CString& text = m.text;
    auto add = [&](Kind kind, bool warning) -> DocumentFinding& {
      DocumentFinding& f = out.emplace_back();
      f.kind = kind;
      f.warning = warning;
      SetContainer(f, *h.container);
      f.isName = true;
      f.nameID = h.id;
      f.text = text;
      return f;
    };
    CNameRuleViolation why;
    if (server.ExplainInvalidName(text, kOrdinaryName, &why)) add(Kind::kInvalid, false).violation = why;
    char32_t hidden = 0;
    int index = -1;
    if (FindHiddenCodePoint(text, &hidden, &index)) {
      DocumentFinding& f = add(Kind::kHiddenCharacter, true);
      f.character = hidden;
      f.index = index;
    }
    if (auto first = HeldBefore(m, group)) {
      SetOther(add(Kind::kTwice, false), *first);
      return;
    }
    if (IsKeyword(text, m.upper)) {
      add(Kind::kKeyword, false);
      return;
    }
    if (group.size() == 1) return;  // every other finding names a second holder
    const Place& at = places.at(h.container);
    const auto apart = NamespacesApart(h.container->GetContainerType(), false, at.topType == kGlobalContainer);
    if (std::find(apart.begin(), apart.end(), Where::kOwnContainer) != apart.end()) {
      // Earlier names of the container under the key that were themselves judged this far.
      std::vector<Holder> alike = Filter(group, [&](const Member& o) {
        return o.h == h || (o.h.container == h.container && !HeldBefore(o, group) && !IsKeyword(o.text, o.upper));
      });
      if (alike.size() > 1)
        if (const Holder first = Earliest(alike); !(first == h)) {
          DocumentFinding& f = add(Kind::kLookAlike, true);
          f.where = Where::kOwnContainer;
          f.confusableSkeleton = lookAlike.UsesSkeleton();
          SetOther(f, first);
        }
    }
    for (Where w : apart) {
      if (w != Where::kGlobal && w != Where::kTarget && w != Where::kOwnTree) continue;
      std::vector<Holder> same = Filter(group, [&](const Member& o) {
        return o.h.container != h.container && o.upper == m.upper && InNamespace(w, at, o.h);
      });
      if (!same.empty()) {
        DocumentFinding& f = add(Kind::kCollision, false);
        f.where = w;
        SetOther(f, Earliest(same));
        break;
      }
      std::vector<Holder> alike =
          Filter(group, [&](const Member& o) { return o.upper != m.upper && InNamespace(w, at, o.h); });
      if (!alike.empty()) {
        DocumentFinding& f = add(Kind::kLookAlike, true);
        f.where = w;
        f.confusableSkeleton = lookAlike.UsesSkeleton();
        SetOther(f, Earliest(alike));
      }
    }
  }

  // The findings of every name under the touched keys, name by name in walk order.
  std::vector<DocumentFinding> JudgeTouched() const {
    std::vector<DocumentFinding> out;
    std::vector<Group> groups;
    std::vector<Holder> all;
    for (const CString& look : touched) {
      if (std::find(touched.begin(), touched.end(), look) != touched.begin() + static_cast<std::ptrdiff_t>(groups.size())) {
        groups.emplace_back();  // a key touched twice is judged once
        continue;
      }
      Group group = GroupOf(look);
      if (touched.size() == 1 && group.size() <= 1) {  // the common edit: one key, one name under it
        for (const Member& m : group) Judge(m, group, out);
        return out;
      }
      groups.push_back(std::move(group));
      for (const Member& m : groups.back()) all.push_back(m.h);
    }
    while (!all.empty()) {
      const Holder first = all.size() == 1 ? all.front() : Earliest(all);
      all.erase(std::find(all.begin(), all.end(), first));
      for (const Group& g : groups)
        for (const Member& m : g)
          if (m.h == first) Judge(m, g, out);
    }
    return out;
  }

  void Begin(Change what) {
    Build();
    change = what;
    before.clear();
    if (touched.empty()) return;
    for (const DocumentFinding& f : JudgeTouched()) before.insert(KeyOf(f));
  }
  void Touch(const CString& text) { touched.push_back(Look(ToUpper(text))); }
  void Forget(const Holder& h) {
    gone.emplace_back(h, Text(h));
    Touch(gone.back().second);
  }
};

EditCheck::EditCheck(const CNameServer& server, const DocumentCheckOptions& options)
    : state_(std::make_unique<State>(server, options)) {}
EditCheck::~EditCheck() = default;

void EditCheck::BeforeAddName(const CString& text) {
  state_->Touch(text);
  state_->Begin(Change::kAddName);
}

void EditCheck::BeforeRename(std::uint32_t nameID, const CString& newText) {
  if (const CNameContainer* c = state_->server.FindContainerOfName(nameID)) state_->Forget({nameID, c});
  state_->Touch(newText);
  state_->Begin(Change::kRename);
}

void EditCheck::BeforeDeleteName(std::uint32_t nameID) {
  if (const CNameContainer* c = state_->server.FindContainerOfName(nameID)) state_->Forget({nameID, c});
  state_->Begin(Change::kDeleteName);
}

void EditCheck::BeforeDeleteContainer(std::uint32_t containerID) {
  State& s = *state_;
  s.Build();
  std::vector<const CNameContainer*> open;
  if (const CNameContainer* c = containerID ? s.server.GetContainer(containerID) : nullptr) open.push_back(c);
  while (!open.empty()) {
    const CNameContainer* c = open.back();
    open.pop_back();
    s.goneContainers.push_back(c);
    const ContainerRef ref(*c, 0);
    for (NameRef n : ref.Names()) s.Forget({n.Id(), c});
    for (ContainerRef child : ref.Children()) open.push_back(&child.Container());
  }
  s.Begin(Change::kDeleteContainer);
}

void EditCheck::BeforeAddContainer() { state_->Begin(Change::kAddContainer); }

void EditCheck::BeforeKeyword(const CString& word) {
  state_->Touch(word);
  state_->Begin(Change::kKeyword);
}

std::vector<DocumentFinding> EditCheck::After(bool applied, std::uint32_t newNameID) {
  State& s = *state_;
  std::vector<DocumentFinding> fresh;
  if (applied) {
    for (const auto& [h, text] : s.gone) s.Remove(h, text);  // under the texts they had
    if (s.change == Change::kAddContainer) {
      if (const CNameContainer* c = s.server.GetContainer(newNameID)) {
        int depth = 0;
        for (const CNameContainer* p = c->GetParent(); p; p = p->GetParent()) ++depth;
        s.PlaceContainer(*c, depth);
      }
    }
    if (s.change == Change::kAddName || s.change == Change::kRename) {
      const std::uint32_t id = s.change == Change::kAddName ? newNameID : s.gone.empty() ? 0 : s.gone.front().first.id;
      if (const CNameContainer* c = id ? s.server.FindContainerOfName(id) : nullptr) s.Insert({id, c}, s.Text({id, c}));
    }
    for (const CNameContainer* c : s.goneContainers) s.places.erase(c);
    std::vector<DocumentFinding> after = s.touched.empty() ? std::vector<DocumentFinding>() : s.JudgeTouched();
    for (DocumentFinding& f : after)
      if (!s.before.count(KeyOf(f))) fresh.push_back(std::move(f));
  }
  s.change = Change::kNone;
  s.touched.clear();
  s.gone.clear();
  s.goneContainers.clear();
  s.before.clear();
  return fresh;
}

}  // namespace nametree
