// The document check keeps every name once, as an index into flat arrays
// built in one walk; each namespace maps a key to its first two holders
// that differ in what matters, which is enough to name, for any holder,
// another one under the same key.
#include "nametree/document_check.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "model/look_alike.h"
#include "nametree/tree_walk.h"
#include "platform/text.h"
#include "server/namespace_policy.h"

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;
constexpr auto kMaxEntries = static_cast<std::size_t>(kMaxEntriesPerTable);

struct Container {
  ContainerRef ref;
  int parent;     // index of its parent, -1 at the top level
  int head;       // index of its ancestor kShortPathEnds - 1 levels down, or itself above that
  int top;        // index of its top-level container
  bool searched;  // a tree search from its top-level container enters it
  int firstName;  // its names are [firstName, next container's firstName)
};

struct Name {
  std::uint32_t id;
  std::u16string_view text;  // good while the checked tree stays as it is
  int container;
};

struct FirstTwo {
  int a = -1, b = -1;
};
using KeyMap = std::unordered_map<CString, FirstTwo>;
struct Namespace {
  KeyMap exact, looks;
};

class Checker {
 public:
  Checker(const CNameServer& server, const DocumentCheckOptions& options)
      : server_(server), warnings_(!options.errorsOnly), profile_(options.profile) {
    for (const CString& k : options.keywords) keywords_.insert(ToUpper(k));
  }

  std::vector<DocumentFinding> Run(const DocumentCheckOptions& options) {
    Collect();
    CheckCounter(options.useStoredLastID ? options.storedLastID : CNameContainer::GetLastIssuedNameID());
    CheckRepeatedIDs();
    CheckLimits();
    Index();
    for (std::size_t i = 0; i < containers_.size(); ++i) CheckContainer(static_cast<int>(i));
    return std::move(findings_);
  }

  std::vector<DocumentFinding> Limits() {
    Collect();
    CheckLimits();
    return std::move(findings_);
  }

 private:
  void Collect() {
    std::vector<int> open;  // the containers above the current one, by depth
    for (ContainerRef c : TreeWalk(server_)) {
      const auto depth = static_cast<std::size_t>(c.Depth());
      open.resize(depth);
      const int index = static_cast<int>(containers_.size());
      bool searched = true;
      int top = index;
      int parent = -1;
      int head = index;
      if (depth > 0) {
        parent = open.back();
        // mutate: short-path-head-not-inherited
        if (depth >= ContainerRef::kShortPathEnds) head = containers_[static_cast<std::size_t>(parent)].head;
        const Container& parent = containers_[static_cast<std::size_t>(open.back())];
        top = parent.top;
        searched = parent.searched && SearchEntersType(ContainerTypeNumber(c.Type()));
      } else {
        ++tops_;
      }
      containers_.push_back({c, parent, head, top, searched, static_cast<int>(names_.size())});
      for (NameRef n : c.Names()) names_.push_back({n.Id(), n.Text(), index});
      open.push_back(index);
    }
  }

  const Container& C(int i) const { return containers_[static_cast<std::size_t>(i)]; }
  const Name& N(int r) const { return names_[static_cast<std::size_t>(r)]; }
  int NameEnd(int i) const {
    return i + 1 < static_cast<int>(containers_.size()) ? C(i + 1).firstName : static_cast<int>(names_.size());
  }
  const CString& Upper(int r) const { return upper_[static_cast<std::size_t>(r)]; }
  const CString& Skeleton(int r) const { return skeleton_[static_cast<std::size_t>(r)]; }
  ContainerType TopType(int i) const { return C(C(i).top).ref.Type(); }

  // ContainerRef::ShortPath in steps bounded by its ends, not by the depth.
  std::vector<std::uint32_t> ShortPath(int i) const {
    constexpr std::size_t kEnds = ContainerRef::kShortPathEnds;
    const auto levels = static_cast<std::size_t>(C(i).ref.Depth()) + 1;
    std::vector<std::uint32_t> path;
    auto up = [&](int from, std::size_t n) {
      for (; n > 0 && from >= 0; --n, from = C(from).parent) path.push_back(C(from).ref.Id());
    };
    // mutate: finding-path-uncut
    if (levels <= ContainerRef::kShortPathLevels) {
      up(i, levels);
    } else {
      up(i, kEnds);
      path.push_back(0);
      up(C(i).head, kEnds);
    }
    std::reverse(path.begin(), path.end());
    return path;
  }
  void SetContainer(DocumentFinding& f, int i) const {
    f.containerID = C(i).ref.Id();
    f.containerType = C(i).ref.Type();
    f.path = ShortPath(i);
  }

  DocumentFinding& Add(DocumentFindingKind kind, bool warning) {
    findings_.emplace_back();
    findings_.back().kind = kind;
    findings_.back().warning = warning;
    return findings_.back();
  }
  DocumentFinding& AddForName(DocumentFindingKind kind, bool warning, int r) {
    DocumentFinding& f = Add(kind, warning);
    SetContainer(f, N(r).container);
    f.isName = true;
    f.nameID = N(r).id;
    f.text = CString(N(r).text);
    return f;
  }
  void SetOther(DocumentFinding& f, int o) const {
    const Container& c = C(N(o).container);
    f.otherIsName = true;
    f.otherContainerID = c.ref.Id();
    f.otherContainerType = c.ref.Type();
    f.otherPath = ShortPath(N(o).container);
    f.otherNameID = N(o).id;
    f.otherText = CString(N(o).text);
  }

  void CheckCounter(std::uint32_t stored) {
    const std::uint32_t highest = server_.GetHighestID();
    if (stored >= highest) return;
    DocumentFinding& f = Add(DocumentFindingKind::kCounter, false);
    f.storedID = stored;
    f.highestID = highest;
  }

  // Owners are container indices as -1 - i and name indices as they are.
  void CheckRepeatedIDs() {
    std::unordered_map<std::uint32_t, int> owners;
    owners.reserve(containers_.size() + names_.size());
    auto own = [&](std::uint32_t id, int owner) {
      auto [it, fresh] = owners.try_emplace(id, owner);
      if (fresh) return;
      DocumentFinding& f = owner < 0 ? Add(DocumentFindingKind::kRepeatedId, false)
                                     : AddForName(DocumentFindingKind::kRepeatedId, false, owner);
      if (owner < 0) SetContainer(f, -1 - owner);
      f.storedID = id;
      if (it->second >= 0) {
        SetOther(f, it->second);
      } else {
        const Container& c = C(-1 - it->second);
        f.otherContainerID = c.ref.Id();
        f.otherContainerType = c.ref.Type();
        f.otherPath = ShortPath(-1 - it->second);
      }
    };
    for (std::size_t i = 0; i < containers_.size(); ++i) own(containers_[i].ref.Id(), -1 - static_cast<int>(i));
    for (std::size_t r = 0; r < names_.size(); ++r) own(names_[r].id, static_cast<int>(r));
  }

  void CheckLimits() {
    if (tops_ > kMaxEntries) {
      DocumentFinding& f = Add(DocumentFindingKind::kLimit, false);
      f.limit = DocumentLimit::kTopLevelContainers;
      f.count = tops_;
    }
    for (std::size_t i = 0; i < containers_.size(); ++i) {
      const Container& c = containers_[i];
      auto over = [&](DocumentLimit limit, std::size_t count) {
        if (count <= kMaxEntries) return;
        DocumentFinding& f = Add(DocumentFindingKind::kLimit, false);
        SetContainer(f, static_cast<int>(i));
        f.limit = limit;
        f.count = count;
      };
      over(DocumentLimit::kNames, c.ref.NameCount());
      over(DocumentLimit::kSubContainers, c.ref.ChildCount());
    }
  }

  void Put(KeyMap& map, const CString& key, int r, bool byContainer) const {
    auto [it, fresh] = map.try_emplace(key, FirstTwo{r, -1});
    if (fresh || it->second.b >= 0) return;
    if (Differs(it->second.a, r, byContainer)) it->second.b = r;
  }
  bool Differs(int o, int r, bool byContainer) const {
    return byContainer ? N(o).container != N(r).container : Upper(o) != Upper(r);
  }
  // Another holder under the key than r: in another container, or (looks)
  // under another text.
  std::optional<int> Other(const KeyMap& map, const CString& key, int r, bool byContainer) const {
    auto it = map.find(key);
    if (it == map.end()) return std::nullopt;
    if (Differs(it->second.a, r, byContainer)) return it->second.a;
    if (it->second.b >= 0 && Differs(it->second.b, r, byContainer)) return it->second.b;
    return std::nullopt;
  }

  void Index() {
    upper_.reserve(names_.size());
    skeleton_.reserve(names_.size());
    for (const Name& n : names_) {
      upper_.push_back(ToUpper(n.text));
      if (warnings_) skeleton_.push_back(lookAlike_(upper_.back()));
    }
    for (std::size_t i = 0; i < containers_.size(); ++i) {
      const Container& c = containers_[i];
      if (!c.searched) continue;
      const ContainerType top = TopType(static_cast<int>(i));
      for (int r = c.firstName; r < NameEnd(static_cast<int>(i)); ++r) {
        auto put = [&](Namespace& ns) {
          // mutate: errors-only-loses-collisions
          Put(ns.exact, Upper(r), r, true);
          if (warnings_) Put(ns.looks, Skeleton(r), r, false);
        };
        if (top == ContainerType::kGlobal) {
          put(global_);
          continue;
        }
        put(ownTree_[C(c.top).ref.Id()]);
        if (top == ContainerType::kTarget) put(targets_);
      }
    }
  }

  const Namespace* NamespaceOf(Where where, int i) const {
    switch (where) {
      case Where::kGlobal: return &global_;
      case Where::kTarget: return &targets_;
      case Where::kOwnTree: {
        auto it = ownTree_.find(C(C(i).top).ref.Id());
        return it == ownTree_.end() ? nullptr : &it->second;
      }
      default: return nullptr;
    }
  }

  // Reports r against one namespace: a collision (an error) or a look-alike
  // (a warning). True on a collision.
  bool Against(const Namespace& ns, Where where, int r) {
    if (auto o = Other(ns.exact, Upper(r), r, true)) {
      DocumentFinding& f = AddForName(DocumentFindingKind::kCollision, false, r);
      f.where = where;
      SetOther(f, *o);
      return true;
    }
    if (!warnings_) return false;
    if (auto o = Other(ns.looks, Skeleton(r), r, false)) {
      DocumentFinding& f = AddForName(DocumentFindingKind::kLookAlike, true, r);
      f.where = where;
      f.confusableSkeleton = lookAlike_.UsesSkeleton();
      SetOther(f, *o);
    }
    return false;
  }

  void CheckContainer(int i) {
    const Container& c = C(i);
    const auto apart = NamespacesApart(ContainerTypeNumber(c.ref.Type()), false, TopType(i) == ContainerType::kGlobal);
    bool ownContainer = false;
    for (Where w : apart) ownContainer = ownContainer || w == Where::kOwnContainer;
    Namespace own;  // the container's own names
    for (int r = c.firstName; r < NameEnd(i); ++r) {
      const CString text(N(r).text);
      CNameRuleViolation why;
      if (ExplainProfileViolation(server_, profile_, text, &why)) AddForName(DocumentFindingKind::kInvalid, false, r).violation = why;
      char32_t hidden = 0;
      int at = -1;
      if (warnings_ && FindHiddenCodePoint(text, &hidden, &at)) {
        DocumentFinding& f = AddForName(DocumentFindingKind::kHiddenCharacter, true, r);
        f.character = hidden;
        f.index = at;
      }
      auto [first, fresh] = own.exact.try_emplace(Upper(r), FirstTwo{r, -1});
      if (!fresh) {
        SetOther(AddForName(DocumentFindingKind::kTwice, false, r), first->second.a);
        continue;
      }
      if (server_.IsKeyword(text) || keywords_.count(Upper(r))) {
        AddForName(DocumentFindingKind::kKeyword, false, r);
        continue;
      }
      if (ownContainer && warnings_) {
        // Look-alikes within the container itself come first.
        Put(own.looks, Skeleton(r), r, false);
        if (auto o = Other(own.looks, Skeleton(r), r, false); o && *o < r) {
          DocumentFinding& f = AddForName(DocumentFindingKind::kLookAlike, true, r);
          f.where = Where::kOwnContainer;
          f.confusableSkeleton = lookAlike_.UsesSkeleton();
          SetOther(f, *o);
        }
      }
      for (Where w : apart) {
        const Namespace* ns = NamespaceOf(w, i);
        if (ns && Against(*ns, w, r)) break;
      }
    }
  }

  const CNameServer& server_;
  const bool warnings_;
  const NameProfile profile_;
  std::unordered_set<CString> keywords_;
  std::vector<Container> containers_;
  std::vector<Name> names_;
  std::size_t tops_ = 0;
  LookAlikeKey lookAlike_;
  std::vector<CString> upper_, skeleton_;
  Namespace global_, targets_;
  std::unordered_map<std::uint32_t, Namespace> ownTree_;  // by top-level ID: containers sharing one share it
  std::vector<DocumentFinding> findings_;
};

}  // namespace

std::string_view DocumentFindingKindName(DocumentFindingKind kind) {
  switch (kind) {
    case DocumentFindingKind::kCounter: return "counter";
    case DocumentFindingKind::kRepeatedId: return "repeated-id";
    case DocumentFindingKind::kLimit: return "limit";
    case DocumentFindingKind::kInvalid: return "invalid";
    case DocumentFindingKind::kTwice: return "twice";
    case DocumentFindingKind::kKeyword: return "keyword";
    case DocumentFindingKind::kCollision: return "collision";
    case DocumentFindingKind::kLookAlike: return "look-alike";
    case DocumentFindingKind::kHiddenCharacter: return "hidden-character";
    case DocumentFindingKind::kDamage: return "damage";
  }
  return "unknown";
}

std::string_view FindingName(const DocumentFinding& finding) {
  // mutate: finding-name-ignores-damage
  if (finding.kind == DocumentFindingKind::kDamage) return DocumentDamageName(finding.damage);
  return DocumentFindingKindName(finding.kind);
}

DocumentFinding DamageFinding(DocumentDamage damage) {
  DocumentFinding f;
  f.kind = DocumentFindingKind::kDamage;
  f.containerID = damage.container;
  f.damage = std::move(damage);
  return f;
}

std::vector<DocumentFinding> CheckDocument(const CNameServer& server, const DocumentCheckOptions& options) {
  return Checker(server, options).Run(options);
}

std::vector<DocumentFinding> CheckEntryLimits(const CNameServer& server) {
  return Checker(server, DocumentCheckOptions{}).Limits();
}

bool DocumentCheckFails(const std::vector<DocumentFinding>& findings, const DocumentCheckOptions& options) {
  for (const DocumentFinding& f : findings)
    if (!f.warning || options.strict) return true;
  return false;
}

}  // namespace nametree
