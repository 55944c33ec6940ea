// The edit check keeps every name under its look-alike key in KeyRooms,
// which groups a key's holders by where they meet. An edit changes the
// findings only of names under the keys of the texts it touches, and of
// those only the ones in a container it edits or judged against a
// namespace such a container belongs to: exactly these are judged before
// and after the edit, as the whole-document check judges them, each
// against its namespaces' earliest holders, found once per pass.
//
// Invariant between edits: the rooms hold exactly the server's names, or,
// until a second edit is announced, only those under the first edit's keys
// in the containers that edit can reach (found in one walk, so that a
// single edit costs a walk, not an index). After() restores it for the one
// edit announced by Before*(). An add that meets no holder of its key is
// judged alone, without a pass: nothing else can change.
#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "container/tree_index.h"
#include "model/container_reader.h"
#include "model/key_rooms.h"
#include "model/look_alike.h"
#include "nametree/document_check.h"
#include "nametree/identifier_profile.h"
#include "nametree/tree_walk.h"
#include "platform/text.h"

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;
using Kind = DocumentFindingKind;

struct Holder {
  std::uint32_t id = 0;
  const CNameContainer* container = nullptr;
  bool operator==(const Holder&) const = default;
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

// Walk order: containers in pre-order, names of one container in its
// table's order, all before those of its sub-containers.
bool WalksBefore(const Holder& a, const Holder& b) {
  if (a.container != b.container) return CTreeIndex::WalksBefore(a.container, b.container);
  // mutate: edit-check-names-reversed
  return a.id != b.id && ContainerReader::Names(*a.container).WalksBefore(a.id, b.id);
}

enum class Change { kNone, kAddName, kRename, kDeleteName, kDeleteContainer, kAddContainer, kKeyword };

using FindingKey = std::tuple<int, std::uint32_t, std::uint32_t, int>;
FindingKey KeyOf(const DocumentFinding& f) {
  return {static_cast<int>(f.kind), f.containerID, f.nameID, static_cast<int>(f.where)};
}

// What an edit reaches under one look-alike key.
struct Touched {
  CString look;  // made only once names of the key are compared (MakeLook)
  bool looked = true;
  std::uint64_t key = 0;
  std::vector<const CNameContainer*> containers;  // edited ones, each holding or taking a name of the key
  bool everyRoom = false;                         // the global namespace, or a keyword
  bool targets = false;                           // the target namespace
  std::vector<std::uint32_t> trees;               // own trees, by top-level ID
};

struct Member {
  Holder h;
  CString text, upper;
  KeyRooms::Index room = 0;
};

// The earliest two holders in walk order that differ in what matters.
struct FirstTwo {
  const Member* a = nullptr;
  const Member* b = nullptr;
};
// A namespace's holders of one key: by text, the first two in different
// containers; and the first two under different texts.
using Summary = std::pair<std::unordered_map<CString, FirstTwo>, FirstTwo>;

// Empties a scratch map; one that a large edit grew is given back, so that
// the small edits after it do not clear its buckets each time.
template <class Map>
void Empty(Map& m) {
  if (m.bucket_count() > 64) m = Map();
  else m.clear();
}

}  // namespace

struct EditCheck::State {
  const CNameServer& server;
  NameProfile profile;
  std::unordered_set<CString> keywords;
  LookAlikeKey lookAlike;
  enum class Built { kNone, kSome, kAll } built = Built::kNone;
  KeyRooms rooms;
  std::uint32_t pass = 0;

  // The edit announced.
  Change change = Change::kNone;
  std::vector<Touched> touched;
  static constexpr std::size_t kFewTouched = 8;
  std::unordered_map<CString, std::size_t> touchedAt;  // by look, once more than a few
  std::vector<std::pair<Holder, std::uint64_t>> gone;   // names the edit takes away, with their keys
  std::unordered_set<const CNameContainer*> goneWhole;  // containers it takes away
  CString added;                                        // the text an add brings
  Holder renamed;
  std::uint64_t renamedTo = 0;
  std::set<FindingKey> before;

  // The key of each ASCII character (either case) that is one ASCII unit,
  // else 0, so that most text is hashed a unit at a time.
  std::array<char16_t, 128> asciiUnit{};

  State(const CNameServer& s, const DocumentCheckOptions& options) : server(s), profile(options.profile) {
    for (const CString& k : options.keywords) keywords.insert(ToUpper(k));
    for (char16_t u = 1; u < 128; ++u) {
      // mutate: edit-check-ascii-lower-case-own-key
      const CString* key = lookAlike.AsciiKey(u >= 'a' && u <= 'z' ? static_cast<char16_t>(u - 0x20) : u);
      if (key && key->size() == 1) asciiUnit[u] = (*key)[0];
    }
  }

  CString Text(const Holder& h) const {
    CString text;
    h.container->FindNameByID(h.id, &text);
    return text;
  }
  CString Look(const CString& upper) const { return lookAlike(upper); }
  // The hash of the look-alike key; ASCII text (the common case) is hashed
  // as it is read, without making the key.
  std::uint64_t LookHash(std::u16string_view text) const {
    std::uint64_t look = kHashStart;
    for (char16_t u : text) {
      if (const char16_t k = u < 128 ? asciiUnit[u] : 0) {
        look = HashUnit(look, k);
        continue;
      }
      const char16_t c = u >= 'a' && u <= 'z' ? static_cast<char16_t>(u - 0x20) : u;
      const CString* key = lookAlike.AsciiKey(c);
      if (!key) return HashOf(Look(ToUpper(CString(text))));
      for (char16_t k : *key) look = HashUnit(look, k);
    }
    return look;
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

  // --- the index
  // Every name, or only those under the keys touched now (the first edit).
  // Then a container that the edit does not change, whose names meet
  // nobody but the global namespace, has its rooms read only when the edit
  // reaches every room of a key; else none of its names is read at all.
  // An add is told its container only after it is made, so its index is
  // built then, without the name it brought (`except`).
  void Build(std::uint32_t except = 0) {
    // mutate: edit-check-first-keys-only
    if (built == Built::kAll) return;
    std::unordered_set<std::uint64_t> only;
    std::unordered_set<const CNameContainer*> edited;
    const bool some = built == Built::kNone;
    bool everyRoom = false;
    if (some) {
      if (touched.empty()) return;
      for (const Touched& t : touched) {
        only.insert(t.key);
        everyRoom = everyRoom || t.everyRoom;
        edited.insert(t.containers.begin(), t.containers.end());
      }
    }
    rooms.Clear();
    built = some ? Built::kSome : Built::kAll;
    for (ContainerRef c : TreeWalk(server)) {
      std::optional<Reach> reach;
      if (!some) rooms.Reserve(&c.Container(), c.NameCount());
      if (some && !everyRoom) {
        reach = ReachOf(c.Container());
        // mutate: edit-check-first-edit-reads-only-its-own
        if (!reach->Listed() && !edited.count(&c.Container())) continue;
      }
      for (NameRef n : c.Names()) {
        const std::uint64_t key = LookHash(n.Text());
        // mutate: edit-check-add-counts-itself-before
        if ((some && !only.count(key)) || n.Id() == except) continue;
        if (!reach) reach = ReachOf(c.Container());
        rooms.Insert(key, &c.Container(), *reach, n.Id());
      }
    }
  }

  Touched& Touch(const CString& text) {
    CString look = Look(ToUpper(text));
    if (touched.size() < kFewTouched) {  // an edit of one name: no map
      for (Touched& t : touched)
        if (t.look == look) return t;
    } else {
      if (touchedAt.empty())
        for (std::size_t i = 0; i < touched.size(); ++i) touchedAt.emplace(touched[i].look, i);
      auto [it, fresh] = touchedAt.try_emplace(look, touched.size());
      if (!fresh) return touched[it->second];
    }
    touched.emplace_back();
    touched.back().key = HashOf(look);
    touched.back().look = std::move(look);
    return touched.back();
  }
  // An add's key, hashed as its text is read; the look waits for MakeLook.
  Touched& TouchAdd(const CString& text) {
    added = text;
    Touched& t = touched.emplace_back();
    t.key = LookHash(text);
    t.looked = false;
    return t;
  }
  void MakeLook(Touched& t) const {
    if (t.looked) return;
    t.look = Look(ToUpper(added));
    t.looked = true;
  }

  // The edit changes names of c under t's key.
  static void Reaches(Touched& t, const CNameContainer* c, const Reach& r) {
    t.containers.push_back(c);
    // mutate: edit-check-global-edit-stays-local
    t.everyRoom = t.everyRoom || r.inGlobal;
    t.targets = t.targets || r.inTargets;
    if (r.inTree && std::find(t.trees.begin(), t.trees.end(), r.topId) == t.trees.end()) t.trees.push_back(r.topId);
  }

  // --- one pass: the findings of every name the edit reaches, in walk order
  struct Pass {
    std::unordered_map<KeyRooms::Index, std::vector<Member>> rooms;  // each sorted in walk order
    std::unordered_map<const CNameContainer*, Reach> reach;
    std::map<std::tuple<std::uint64_t, int, std::uint32_t>, Summary> namespaces;
  };

  Pass scratch;  // the current pass's, cleared rather than made anew at each

  const Reach& ReachIn(Pass& p, const CNameContainer* c) const {
    auto it = p.reach.find(c);
    if (it == p.reach.end()) it = p.reach.emplace(c, ReachOf(*c)).first;
    return it->second;
  }

  // Items in walk order of their holders: containers ranked once, then
  // names within each by their table.
  template <class T, class HolderOf>
  static void SortInWalkOrder(std::vector<T>& items, HolderOf holderOf) {
    if (items.size() < 2) return;
    std::unordered_map<const CNameContainer*, std::size_t> rank;
    std::vector<const CNameContainer*> containers;
    for (const T& item : items)
      if (rank.emplace(holderOf(item).container, 0).second) containers.push_back(holderOf(item).container);
    std::sort(containers.begin(), containers.end(), [](const CNameContainer* a, const CNameContainer* b) {
      return a != b && CTreeIndex::WalksBefore(a, b);
    });
    for (std::size_t i = 0; i < containers.size(); ++i) rank[containers[i]] = i;
    std::sort(items.begin(), items.end(), [&](const T& a, const T& b) {
      const Holder &ha = holderOf(a), &hb = holderOf(b);
      const std::size_t ra = rank[ha.container], rb = rank[hb.container];
      return ra != rb ? ra < rb : WalksBefore(ha, hb);
    });
  }

  // The room's names under the look, in walk order.
  const std::vector<Member>& RoomIn(Pass& p, KeyRooms::Index i, const CString& look) const {
    const auto [it, fresh] = p.rooms.try_emplace(i);
    std::vector<Member>& members = it->second;
    if (!fresh) return members;
    const KeyRooms::Room& room = rooms.At(i);
    rooms.ForEachId(i, [&](std::uint32_t id) {
      Member m{{id, room.container}, {}, {}, i};
      m.text = Text(m.h);
      m.upper = ToUpper(m.text);
      if (HasLook(m.upper, look)) members.push_back(std::move(m));
    });
    SortInWalkOrder(members, [](const Member& m) -> const Holder& { return m.h; });
    return members;
  }

  // The rooms of the key that a namespace holds.
  const KeyRooms::List& MembersOf(std::uint64_t key, Where w, std::uint32_t topId) const {
    return w == Where::kGlobal   ? rooms.Global(key)
           : w == Where::kTarget ? rooms.Targets(key)
                                 : rooms.TreeMembers(key, topId);
  }
  // The namespaces a name of a container with that reach is judged against.
  template <class F>
  static void ForEachNamespace(const Reach& at, F&& f) {
    for (Where w : at.apart) {
      if (w != Where::kGlobal && w != Where::kTarget && w != Where::kOwnTree) continue;
      if (w == Where::kOwnTree && at.topType == kGlobalContainer) continue;  // a global tree is no own tree
      if (f(w)) return;
    }
  }

  // Whether a name of the key added to c meets no holder of the key, in c
  // or in any namespace, and no holder is judged against c's namespaces:
  // then it is judged alone and nothing else is judged before or after.
  bool Alone(std::uint64_t key, const CNameContainer* c, const Reach& r) const {
    if (rooms.Find(key, c) != KeyRooms::kNone) return false;
    // mutate: edit-check-alone-misses-searchers
    if (r.inGlobal ? !rooms.All(key).empty()
                   : (r.inTargets && !rooms.TargetSearchers(key).empty()) ||
                         (r.inTree && !rooms.TreeSearchers(key, r.topId).empty()))
      return false;
    bool met = false;
    // mutate: edit-check-alone-misses-namespaces
    ForEachNamespace(r, [&](Where w) { return met = !MembersOf(key, w, r.topId).empty(); });
    return !met;
  }

  // A namespace's holders of the key: for each text the first two in
  // different containers, and the first two under different texts.
  const Summary& NamespaceIn(Pass& p, const Touched& t, Where w, std::uint32_t topId) const {
    const auto at = std::make_tuple(t.key, static_cast<int>(w), w == Where::kOwnTree ? topId : 0);
    const KeyRooms::List& list = MembersOf(t.key, w, topId);
    static const Summary kNobody;
    if (list.empty()) return kNobody;
    auto [it, fresh] = p.namespaces.try_emplace(at);
    if (!fresh) return it->second;
    std::vector<const Member*> members;
    for (KeyRooms::Index i : list)
      for (const Member& m : RoomIn(p, i, t.look)) members.push_back(&m);
    SortInWalkOrder(members, [](const Member* m) -> const Holder& { return m->h; });
    auto& [exact, looks] = it->second;
    for (const Member* m : members) {
      FirstTwo& e = exact[m->upper];
      if (!e.a) e.a = m;
      // mutate: edit-check-second-holder-same-container
      else if (!e.b && e.a->h.container != m->h.container) e.b = m;
      if (!looks.a) looks.a = m;
      else if (!looks.b && looks.a->upper != m->upper) looks.b = m;
    }
    return it->second;
  }

  void SetContainer(DocumentFinding& f, const CNameContainer& c) const {
    const ContainerRef ref(c, 0);
    f.containerID = ref.Id();
    f.containerType = ref.Type();
    f.path = ref.ShortPath();
  }
  void SetOther(DocumentFinding& f, const Member& o) const {
    const ContainerRef ref(*o.h.container, 0);
    f.otherIsName = true;
    f.otherContainerID = ref.Id();
    f.otherContainerType = ref.Type();
    f.otherPath = ref.ShortPath();
    f.otherNameID = o.h.id;
    f.otherText = o.text;
  }

  bool IsKeyword(const CString& text, const CString& upper) const {
    return server.IsKeyword(text) || (!keywords.empty() && keywords.count(upper) != 0);
  }

  // The findings of one name, as the whole-document check reports them;
  // without a pass, of a name that is Alone.
  void Judge(Pass* pass, const Touched& t, const Member& m, std::vector<DocumentFinding>& out) const {
    auto add = [&](Kind kind, bool warning) -> DocumentFinding& {
      DocumentFinding& f = out.emplace_back();
      f.kind = kind;
      f.warning = warning;
      SetContainer(f, *m.h.container);
      f.isName = true;
      f.nameID = m.h.id;
      f.text = m.text;
      return f;
    };
    CNameRuleViolation why;
    // mutate: edit-check-ignores-profile
    if (ExplainProfileViolation(server, profile, m.text, &why)) add(Kind::kInvalid, false).violation = why;
    char32_t hidden = 0;
    int index = -1;
    if (FindHiddenCodePoint(m.text, &hidden, &index)) {
      DocumentFinding& f = add(Kind::kHiddenCharacter, true);
      f.character = hidden;
      f.index = index;
    }
    if (!pass) {  // its upper-cased text is made only for the extra keywords
      if (server.IsKeyword(m.text) || (!keywords.empty() && keywords.count(ToUpper(m.text))))
        add(Kind::kKeyword, false);
      return;
    }
    Pass& p = *pass;
    // In its container: the first holder of its text, and the first of the
    // texts that are neither held twice nor keywords.
    const std::vector<Member>& room = RoomIn(p, m.room, t.look);
    const Member* firstAlike = nullptr;
    std::unordered_set<CString> seen;
    for (const Member& o : room) {
      if (room.size() == 1 || o.h == m.h) break;
      if (!seen.insert(o.upper).second) continue;
      if (o.upper == m.upper) {
        SetOther(add(Kind::kTwice, false), o);
        return;
      }
      if (!firstAlike && !IsKeyword(o.text, o.upper)) firstAlike = &o;
    }
    if (IsKeyword(m.text, m.upper)) {
      add(Kind::kKeyword, false);
      return;
    }
    const Reach& at = ReachIn(p, m.h.container);
    if (firstAlike && std::find(at.apart.begin(), at.apart.end(), Where::kOwnContainer) != at.apart.end()) {
      DocumentFinding& f = add(Kind::kLookAlike, true);
      f.where = Where::kOwnContainer;
      f.confusableSkeleton = lookAlike.UsesSkeleton();
      SetOther(f, *firstAlike);
    }
    ForEachNamespace(at, [&](Where w) {
      const auto& [exact, looks] = NamespaceIn(p, t, w, at.topId);
      if (auto e = exact.find(m.upper); e != exact.end()) {
        const Member* o = e->second.a->h.container != m.h.container ? e->second.a : e->second.b;
        if (o) {
          DocumentFinding& f = add(Kind::kCollision, false);
          f.where = w;
          SetOther(f, *o);
          return true;
        }
      }
      const Member* o = looks.a && looks.a->upper != m.upper ? looks.a
                        : looks.b && looks.b->upper != m.upper ? looks.b
                                                               : nullptr;
      if (o) {
        DocumentFinding& f = add(Kind::kLookAlike, true);
        f.where = w;
        f.confusableSkeleton = lookAlike.UsesSkeleton();
        SetOther(f, *o);
      }
      return false;
    });
  }

  // Whether a name is one the announced delete takes away.
  bool Gone(const Holder& h) const {
    if (change == Change::kDeleteContainer) return goneWhole.count(h.container) != 0;
    // mutate: edit-check-delete-drops-its-neighbours
    return change == Change::kDeleteName && !gone.empty() && gone.front().first == h;
  }

  // Before the edit, the names it takes away are left out: no finding of
  // theirs can be reported after it.
  std::vector<DocumentFinding> JudgeTouched(bool before) {
    std::vector<DocumentFinding> out;
    if (touched.empty()) return out;
    Pass& p = scratch;
    Empty(p.rooms);
    Empty(p.reach);
    p.namespaces.clear();
    ++pass;
    std::vector<std::pair<const Member*, const Touched*>> judged;
    for (Touched& t : touched) MakeLook(t);
    for (const Touched& t : touched) {
      auto take = [&](KeyRooms::Index i) {
        if (i == KeyRooms::kNone || rooms.At(i).mark == pass) return;
        rooms.At(i).mark = pass;
        if (before && change == Change::kDeleteContainer && goneWhole.count(rooms.At(i).container)) return;
        for (const Member& m : RoomIn(p, i, t.look))
          if (!before || !Gone(m.h)) judged.emplace_back(&m, &t);
      };
      for (const CNameContainer* c : t.containers) take(rooms.Find(t.key, c));
      if (t.everyRoom) {
        for (KeyRooms::Index i : rooms.All(t.key)) take(i);
        continue;
      }
      // mutate: edit-check-misses-target-searchers
      if (t.targets)
        for (KeyRooms::Index i : rooms.TargetSearchers(t.key)) take(i);
      // mutate: edit-check-misses-tree-searchers
      for (std::uint32_t top : t.trees)
        for (KeyRooms::Index i : rooms.TreeSearchers(t.key, top)) take(i);
    }
    SortInWalkOrder(judged, [](const auto& j) -> const Holder& { return j.first->h; });
    for (const auto& [m, t] : judged) Judge(&p, *t, *m, out);
    return out;
  }

  void JudgeBefore() {
    for (const DocumentFinding& f : JudgeTouched(true)) before.insert(KeyOf(f));
  }
  void Begin(Change what) {
    change = what;
    Build();
    JudgeBefore();
  }
  void Reset() {
    change = Change::kNone;
    touched.clear();
    Empty(touchedAt);
    gone.clear();
    Empty(goneWhole);
    renamed = {};
    before.clear();
  }
};

EditCheck::EditCheck(const CNameServer& server, const DocumentCheckOptions& options)
    : state_(std::make_unique<State>(server, options)) {}
EditCheck::~EditCheck() = default;

void EditCheck::BeforeAddName(const CString& text) {
  State& s = *state_;
  s.Reset();
  s.TouchAdd(text);
  s.change = Change::kAddName;  // judged before and after once After knows the container
}

void EditCheck::BeforeRename(std::uint32_t nameID, const CString& newText) {
  State& s = *state_;
  s.Reset();
  if (const CNameContainer* c = s.server.FindContainerOfName(nameID)) {
    const Holder h{nameID, c};
    const Reach r = ReachOf(*c);
    Touched& from = s.Touch(s.Text(h));
    State::Reaches(from, c, r);
    s.gone.emplace_back(h, from.key);
    Touched& to = s.Touch(newText);
    State::Reaches(to, c, r);
    s.renamed = h;
    s.renamedTo = to.key;
  }
  s.Begin(Change::kRename);
}

void EditCheck::BeforeDeleteName(std::uint32_t nameID) {
  State& s = *state_;
  s.Reset();
  if (const CNameContainer* c = s.server.FindContainerOfName(nameID)) {
    const Holder h{nameID, c};
    Touched& t = s.Touch(s.Text(h));
    State::Reaches(t, c, ReachOf(*c));
    s.gone.emplace_back(h, t.key);
  }
  s.Begin(Change::kDeleteName);
}

void EditCheck::BeforeDeleteContainer(std::uint32_t containerID) {
  State& s = *state_;
  s.Reset();
  if (containerID && s.server.GetContainer(containerID)) {
    for (ContainerRef c : TreeWalk(s.server, containerID)) {
      s.goneWhole.insert(&c.Container());
      const Reach r = ReachOf(c.Container());
      for (NameRef n : c.Names()) {
        Touched& t = s.Touch(CString(n.Text()));
        State::Reaches(t, &c.Container(), r);
        s.gone.emplace_back(Holder{n.Id(), &c.Container()}, t.key);
      }
    }
  }
  s.Begin(Change::kDeleteContainer);
}

void EditCheck::BeforeAddContainer() {
  state_->Reset();
  state_->change = Change::kAddContainer;
}

void EditCheck::BeforeKeyword(const CString& word) {
  State& s = *state_;
  s.Reset();
  s.Touch(word).everyRoom = true;
  s.Begin(Change::kKeyword);
}

std::vector<DocumentFinding> EditCheck::After(bool applied, std::uint32_t newNameID) {
  State& s = *state_;
  std::vector<DocumentFinding> fresh;
  if (applied && !s.touched.empty()) {
    if (s.change == Change::kAddName) {
      if (const CNameContainer* c = newNameID ? s.server.FindContainerOfName(newNameID) : nullptr) {
        const Reach r = ReachOf(*c);
        Touched& t = s.touched.front();
        const bool build = s.built != State::Built::kAll;
        if (build) {
          State::Reaches(t, c, r);
          s.Build(newNameID);
        }
        if (s.Alone(t.key, c, r)) {
          s.rooms.Insert(t.key, c, r, newNameID);
          const Member m{{newNameID, c}, std::move(s.added), {}, 0};
          s.Judge(nullptr, t, m, fresh);
          s.Reset();
          return fresh;
        }
        if (!build) State::Reaches(t, c, r);
        s.JudgeBefore();
        s.rooms.Insert(t.key, c, r, newNameID);
      }
    } else {
      // mutate: edit-check-keeps-deleted-names
      for (const auto& [h, key] : s.gone) s.rooms.Remove(key, h.container, h.id);
      if (s.change == Change::kRename && s.renamed.container)
        s.rooms.Insert(s.renamedTo, s.renamed.container, ReachOf(*s.renamed.container), s.renamed.id);
    }
    for (DocumentFinding& f : s.JudgeTouched(false))
      // mutate: edit-check-reports-old-findings
      if (!s.before.count(KeyOf(f))) fresh.push_back(std::move(f));
  }
  s.Reset();
  return fresh;
}

std::string EditCheck::CheckInvariants() const { return state_->rooms.Check(); }

}  // namespace nametree
