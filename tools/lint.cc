#include "lint.h"

#include <unicode/unorm2.h>
#include <unicode/uspoof.h>

#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/text.h"

namespace nametree::cli {

namespace {

constexpr auto kMaxEntries = static_cast<std::size_t>(kMaxEntriesPerTable);

struct Ref {
  int container = -1;
  int name = -1;
};

// The first entry under a key, and the first after it that differs from it
// in what matters (another container, or another text): enough to find,
// for any entry, one other entry under the same key.
struct FirstTwo {
  Ref a, b;
};
using KeyMap = std::unordered_map<CString, FirstTwo>;

// Skeletons of the TR 39 confusable check; the same text after NFC and
// upper-casing where the spoof checker cannot be had.
class LookAlike {
 public:
  LookAlike() {
    UErrorCode status = U_ZERO_ERROR;
    checker_.reset(uspoof_open(&status));
    if (U_FAILURE(status)) checker_.reset();
    status = U_ZERO_ERROR;
    nfc_ = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) nfc_ = nullptr;
  }
  // Names compare ignoring case, so look-alikes do too.
  CString Key(const CString& name) const {
    const CString text = ToUpper(name);
    const auto* src = reinterpret_cast<const UChar*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    CString out(text.size() * 2 + 8, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      status = U_ZERO_ERROR;
      auto* dest = reinterpret_cast<UChar*>(out.data());
      const auto capacity = static_cast<int32_t>(out.size());
      n = checker_ ? uspoof_getSkeleton(checker_.get(), 0, src, length, dest, capacity, &status)
          : nfc_   ? unorm2_normalize(nfc_, src, length, dest, capacity, &status)
                   : 0;
      if (status != U_BUFFER_OVERFLOW_ERROR) break;
      out.assign(static_cast<std::size_t>(n) + 1, u'\0');
    }
    if (U_FAILURE(status) || (!checker_ && !nfc_)) return text;
    out.resize(static_cast<std::size_t>(n));
    return out;
  }
  const char* What() const { return checker_ ? "the same confusable skeleton" : "the same text after NFC"; }

 private:
  struct Closer {
    void operator()(USpoofChecker* c) const { uspoof_close(c); }
  };
  std::unique_ptr<USpoofChecker, Closer> checker_;
  const UNormalizer2* nfc_ = nullptr;
};

class Linter {
 public:
  Linter(const CNameServer& server, const Snapshot& s) : server_(server), s_(s) {}

  std::vector<Finding> Run(std::uint32_t stored) {
    CheckCounter(stored);
    CheckRepeatedIDs();
    CheckLimits();
    Index();
    for (std::size_t i = 0; i < s_.containers.size(); ++i) CheckContainer(static_cast<int>(i));
    return std::move(findings_);
  }

 private:
  const ContainerEntry& C(int i) const { return s_.containers[static_cast<std::size_t>(i)]; }
  const NameEntry& N(Ref r) const { return C(r.container).names[static_cast<std::size_t>(r.name)]; }
  const CString& Upper(Ref r) const {
    return upper_[static_cast<std::size_t>(r.container)][static_cast<std::size_t>(r.name)];
  }
  const CString& Skeleton(Ref r) const {
    return skeleton_[static_cast<std::size_t>(r.container)][static_cast<std::size_t>(r.name)];
  }
  std::int16_t TopType(int i) const { return C(C(i).top).type; }

  std::string Where(int i) const {
    return "container " + std::to_string(C(i).id) + " (" + TypeLabel(C(i).type) + ") at " + s_.Path(i);
  }
  std::string Entry(Ref r) const { return Quoted(N(r).text) + " (ID " + std::to_string(N(r).id) + ")"; }
  Json RefJson(Ref r) const {
    return {{"container", C(r.container).id}, {"path", s_.Path(r.container)}, {"id", N(r).id},
            {"name", JsonText(N(r).text)}};
  }

  void Add(bool warning, std::string check, std::string message, Json json = Json::object()) {
    findings_.push_back({warning, std::move(check), std::move(message), std::move(json)});
  }

  void CheckCounter(std::uint32_t stored) {
    const std::uint32_t highest = server_.GetHighestID();
    if (stored >= highest) return;
    Add(false, "counter",
        "the stored last issued ID " + std::to_string(stored) + " is below ID " + std::to_string(highest) +
            " in use: the next add would issue a held ID again ('nametree repair' raises it)",
        {{"stored", stored}, {"highest", highest}});
  }

  void CheckRepeatedIDs() {
    std::unordered_map<std::uint32_t, std::string> owners;
    auto own = [&](std::uint32_t id, std::string owner) {
      auto [it, fresh] = owners.try_emplace(id, owner);
      if (!fresh)
        Add(false, "repeated-id", "ID " + std::to_string(id) + " is held twice: by " + it->second + " and by " + owner,
            {{"id", id}});
    };
    for (std::size_t i = 0; i < s_.containers.size(); ++i) own(s_.containers[i].id, Where(static_cast<int>(i)));
    for (std::size_t i = 0; i < s_.containers.size(); ++i)
      for (std::size_t j = 0; j < s_.containers[i].names.size(); ++j)
        own(s_.containers[i].names[j].id,
            "name " + Quoted(s_.containers[i].names[j].text) + " in " + Where(static_cast<int>(i)));
  }

  void CheckLimits() {
    if (s_.tops.size() > kMaxEntries)
      Add(false, "limit", std::to_string(s_.tops.size()) + " top-level containers, more than a saved document holds (32767)");
    for (std::size_t i = 0; i < s_.containers.size(); ++i) {
      const ContainerEntry& c = s_.containers[i];
      if (c.names.size() > kMaxEntries)
        Add(false, "limit", Where(static_cast<int>(i)) + " holds " + std::to_string(c.names.size()) +
                                " names, more than a saved document holds (32767)");
      if (c.children.size() > kMaxEntries)
        Add(false, "limit", Where(static_cast<int>(i)) + " holds " + std::to_string(c.children.size()) +
                                " sub-containers, more than a saved document holds (32767)");
    }
  }

  static void Put(KeyMap& map, const CString& key, Ref r, bool byContainer, const Linter& l) {
    auto [it, fresh] = map.try_emplace(key, FirstTwo{r, {}});
    if (fresh || it->second.b.container >= 0) return;
    const Ref a = it->second.a;
    if (byContainer ? a.container != r.container : l.Upper(a) != l.Upper(r)) it->second.b = r;
  }

  // Another entry under the key than r: in another container, or (looks)
  // under another text.
  std::optional<Ref> Other(const KeyMap& map, const CString& key, Ref r, bool byContainer) const {
    auto it = map.find(key);
    if (it == map.end()) return std::nullopt;
    const auto differs = [&](Ref o) {
      return byContainer ? o.container != r.container : Upper(o) != Upper(r);
    };
    if (differs(it->second.a)) return it->second.a;
    if (it->second.b.container >= 0 && differs(it->second.b)) return it->second.b;
    return std::nullopt;
  }

  void Index() {
    upper_.resize(s_.containers.size());
    skeleton_.resize(s_.containers.size());
    for (std::size_t i = 0; i < s_.containers.size(); ++i) {
      const ContainerEntry& c = s_.containers[i];
      for (const NameEntry& n : c.names) {
        upper_[i].push_back(ToUpper(n.text));
        skeleton_[i].push_back(lookAlike_.Key(n.text));
      }
      if (!c.searched) continue;
      const int index = static_cast<int>(i);
      const std::int16_t top = TopType(index);
      for (std::size_t j = 0; j < c.names.size(); ++j) {
        const Ref r{index, static_cast<int>(j)};
        if (top == kGlobalContainer) {
          Put(global_.exact, upper_[i][j], r, true, *this);
          Put(global_.looks, skeleton_[i][j], r, false, *this);
        } else {
          Namespace& own = ownTree_[C(c.top).id];
          Put(own.exact, upper_[i][j], r, true, *this);
          Put(own.looks, skeleton_[i][j], r, false, *this);
          if (top == kTargetContainer) {
            Put(targets_.exact, upper_[i][j], r, true, *this);
            Put(targets_.looks, skeleton_[i][j], r, false, *this);
          }
        }
      }
    }
  }

  struct Namespace {
    KeyMap exact, looks;
  };

  // Reports r against one namespace: a collision (an error) or a look-alike
  // (a warning). False when neither.
  bool Against(const Namespace& ns, const char* name, Ref r) {
    if (auto o = Other(ns.exact, Upper(r), r, true)) {
      Add(false, "collision",
          Where(r.container) + ": " + Entry(r) + " collides with the " + name + " namespace: " + Entry(*o) + " in " +
              Where(o->container),
          {{"container", C(r.container).id}, {"id", N(r).id}, {"name", JsonText(N(r).text)}, {"namespace", name},
           {"other", RefJson(*o)}});
      return true;
    }
    if (auto o = Other(ns.looks, Skeleton(r), r, false)) {
      Add(true, "look-alike",
          Where(r.container) + ": " + Entry(r) + " looks like " + Entry(*o) + " of the " + name + " namespace in " +
              Where(o->container) + " (" + lookAlike_.What() + ")",
          {{"container", C(r.container).id}, {"id", N(r).id}, {"name", JsonText(N(r).text)}, {"namespace", name},
           {"other", RefJson(*o)}});
    }
    return false;
  }

  void CheckContainer(int i) {
    const ContainerEntry& c = C(i);
    Namespace own;  // the container's own names
    for (std::size_t j = 0; j < c.names.size(); ++j) {
      const Ref r{i, static_cast<int>(j)};
      if (!server_.IsValidName(N(r).text, kOrdinaryName))
        Add(false, "invalid",
            Where(i) + ": " + Entry(r) + " breaks the name rule: " + DescribeInvalidName(server_, N(r).text, kOrdinaryName),
            {{"container", c.id}, {"id", N(r).id}, {"name", JsonText(N(r).text)}});
      auto [first, fresh] = own.exact.try_emplace(Upper(r), FirstTwo{r, {}});
      if (!fresh) {
        Add(false, "twice",
            Where(i) + ": " + Entry(first->second.a) + " and " + Entry(r) + " are one text held twice",
            {{"container", c.id}, {"id", N(r).id}, {"name", JsonText(N(r).text)}, {"other", RefJson(first->second.a)}});
        continue;
      }
      if (server_.IsKeyword(N(r).text)) {
        Add(false, "keyword", Where(i) + ": " + Entry(r) + " is a keyword",
            {{"container", c.id}, {"id", N(r).id}, {"name", JsonText(N(r).text)}});
        continue;
      }
      if (c.type == kOrdinaryContainer) {
        // Look-alikes within the container itself, then the global namespace.
        Put(own.looks, Skeleton(r), r, false, *this);
        if (auto o = Other(own.looks, Skeleton(r), r, false); o && o->name < r.name)
          Add(true, "look-alike",
              Where(i) + ": " + Entry(r) + " looks like " + Entry(*o) + " in the same container (" +
                  lookAlike_.What() + ")",
              {{"container", c.id}, {"id", N(r).id}, {"name", JsonText(N(r).text)}, {"namespace", "own-container"},
               {"other", RefJson(*o)}});
        Against(global_, "global", r);
      } else if (TopType(i) == kGlobalContainer) {
        if (!Against(global_, "global", r)) Against(targets_, "target", r);
      } else {
        if (auto it = ownTree_.find(C(c.top).id); it == ownTree_.end() || !Against(it->second, "own-tree", r))
          Against(global_, "global", r);
      }
    }
  }

  const CNameServer& server_;
  const Snapshot& s_;
  LookAlike lookAlike_;
  std::vector<std::vector<CString>> upper_, skeleton_;
  Namespace global_, targets_;
  std::unordered_map<std::uint32_t, Namespace> ownTree_;  // by top-level ID: containers sharing one share it
  std::vector<Finding> findings_;
};

}  // namespace

std::vector<Finding> LintDocument(const CNameServer& server, const Snapshot& snapshot, std::uint32_t stored) {
  return Linter(server, snapshot).Run(stored);
}

}  // namespace nametree::cli
