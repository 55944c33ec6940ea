// A second, deliberately naive implementation of the classic API, kept only
// to check the library against: every chained table is B buckets of lists
// (held sparsely, walked in bucket order), every search walks the tree,
// nothing is cached or indexed. It
// shares no code with the library, so where the two disagree one of them is
// wrong.
//
// Invariant of the model itself: its state changes only through the
// operations below, each of which follows the documented algorithm step by
// step, including the states the library's callers may reach by accident
// (two names under one key, one ID under two keys).
//
// Upper-casing covers ASCII and a fixed handful of other letters (see
// kExtraLetters); random texts are drawn from those only.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nametree::model {

using Text = std::u16string;
using Status = std::int32_t;

inline constexpr Status kOk = 0;
inline constexpr Status kFalse = 1;
inline constexpr Status kFail = static_cast<Status>(0x80004005u);
inline constexpr Status kPointer = static_cast<Status>(0x80004003u);
inline constexpr Status kInvalid = static_cast<Status>(0x800A03EAu);
inline constexpr Status kDuplicate = static_cast<Status>(0x800A03EBu);

// Lower/upper pairs outside ASCII that the model knows how to fold.
inline constexpr std::pair<char16_t, char16_t> kExtraLetters[] = {
    {u'\u03C9', u'\u03A9'},  // omega
    {u'\u00E4', u'\u00C4'},  // a with diaeresis
};

Text Upper(const Text& text);
bool IsLetter(char16_t c);
bool IsDigit(char16_t c);

// The process-wide last issued ID, as the model sees it.
std::uint32_t& LastIssued();

template <class K, class V>
class ChainedTable {
 public:
  explicit ChainedTable(std::uint32_t buckets) : buckets_(buckets) {}

  std::uint32_t Buckets() const { return buckets_; }
  // Empties the table and gives it another bucket count.
  void Make(std::uint32_t buckets) {
    Clear();
    buckets_ = buckets;
  }
  std::size_t Size() const { return size_; }

  V* Find(const K& key) {
    auto chain = chains_.find(Bucket(key));
    if (chain == chains_.end()) return nullptr;
    for (auto& entry : chain->second)
      if (entry.first == key) return &entry.second;
    return nullptr;
  }
  const V* Find(const K& key) const { return const_cast<ChainedTable*>(this)->Find(key); }

  void Set(const K& key, V value) {
    if (V* held = Find(key)) {
      *held = std::move(value);
      return;
    }
    chains_[Bucket(key)].emplace_front(key, std::move(value));
    ++size_;
  }

  bool Remove(const K& key) {
    auto chain = chains_.find(Bucket(key));
    if (chain == chains_.end()) return false;
    for (auto it = chain->second.begin(); it != chain->second.end(); ++it) {
      if (it->first == key) {
        chain->second.erase(it);
        if (chain->second.empty()) chains_.erase(chain);
        --size_;
        return true;
      }
    }
    return false;
  }

  void Clear() {
    chains_.clear();
    size_ = 0;
  }

  // Buckets 0 to B - 1, each chain from front to back.
  template <class F>
  void Walk(F&& visit) const {
    for (const auto& [bucket, chain] : chains_)
      for (const auto& entry : chain) visit(entry.first, entry.second);
  }

 private:
  std::uint32_t Bucket(std::uint32_t key) const { return (key >> 4) % buckets_; }
  std::uint32_t Bucket(const Text& key) const {
    std::uint32_t h = 0;
    for (char16_t c : key) h = h * 33 + c;
    return h % buckets_;
  }

  std::uint32_t buckets_;
  // Only the buckets that hold entries; the others are empty chains.
  std::map<std::uint32_t, std::list<std::pair<K, V>>> chains_;
  std::size_t size_ = 0;
};

struct Container {
  // uninitialised: 17 buckets everywhere, ID 0xFFFFFFFF; otherwise Initialize.
  explicit Container(bool uninitialised = false);
  // The constructor that takes parent, ID and type and draws nothing.
  Container(Container* parent, std::uint32_t id, std::int16_t type);

  void Initialize();
  void Shutdown();

  std::uint32_t AddName(const Text& text);
  Status DeleteName(std::uint32_t id);
  Status FindNameByID(std::uint32_t id, Text* text) const;
  Status FindIDByName(const Text& text, std::uint32_t* id) const;
  Status FindName(const Text& text, bool recurse, std::uint32_t* id) const;
  std::uint32_t GetIDOfName(const Text& text) const;
  Status Rename(std::uint32_t id, const Text& text);
  Status Rename(const Text& oldText, const Text& newText);
  int GetNumNames() const { return static_cast<int>(byName.Size()); }
  // The three lists, each as the whole walk; callers cut it to GetNumNames.
  std::vector<Text> AllNames() const;
  std::vector<std::uint32_t> AllIDs() const;
  std::vector<std::pair<std::uint32_t, Text>> AllNamesAndIDs() const;
  // True where the documented answer of the name lists is open: the
  // ID-keyed table and the name-keyed table differ in size.
  bool ListsOpen() const { return byID.Size() != byName.Size(); }
  // True when two names of this container are equal ignoring case.
  bool HoldsSharedKey() const;

  std::uint32_t GetParentID() const { return parent ? parent->id : 0; }
  Container* FindRootContainer();
  std::uint32_t AddContainer(std::int16_t type);
  Status DeleteContainer(std::uint32_t id);
  Container* FindContainer(std::uint32_t id) const;
  Container* FindContainerOfName(std::uint32_t nameID);
  Status FindNameByIDForAllContainers(std::uint32_t id, Text* text) const;
  std::vector<std::uint32_t> SubContainerIDs() const;

  void ResetObjectIndex() { objectIndex = -1; }
  int GetNextObjectCount(const Text& base);

  void Save(std::vector<std::uint8_t>& out) const;
  // Merges one container record into this container.
  Status Load(const std::vector<std::uint8_t>& record);
  Status CreateContainerFromData(std::uint32_t id, std::int16_t type);
  Status AddContainerFromData(std::uint32_t id, std::int16_t type);
  Status AddNameFromData(std::uint32_t nameID, const Text& text);

  std::uint32_t id = 0xFFFFFFFF;
  std::int16_t type = 0;
  Container* parent = nullptr;
  ChainedTable<std::uint32_t, std::unique_ptr<Container>> subs{17};
  ChainedTable<std::uint32_t, Text> byID{17};
  ChainedTable<Text, std::uint32_t> byName{17};
  std::int32_t objectIndex = -1;
  std::vector<std::pair<Text, std::int32_t>> counters;
};

struct Posted {
  Text name;
  std::uint32_t containerID, nameID;
  Text oldName, newName;
};

// The answer of one list getter: what the caller sees, and, when the
// container's tables disagree in size, the entries any of which may be
// delivered (`open`).
struct ListAnswer {
  Status status = kOk;
  bool countWritten = false;
  int count = 0;
  bool filled = false;
  bool open = false;
  std::vector<std::uint32_t> ids;
  std::vector<Text> names;
};

enum class ListKind { kNames, kIDs, kNamesAndIDs };

class Server {
 public:
  // A server whose notification manager is set (as after Initialize).
  Server() = default;

  std::uint32_t AddContainer(std::uint32_t parentID, std::int16_t type);
  Status DeleteContainer(std::uint32_t id, bool notify);
  Container* GetContainer(std::uint32_t id) const;
  Container* FindContainerOfName(std::uint32_t nameID) const;
  std::uint32_t GetGlobalContainerID() const;
  std::vector<std::uint32_t> GetTargets() const;
  std::vector<std::uint32_t> GetTopLevelIDs() const;

  static bool IsValidName(const Text& text, std::uint32_t kind);
  static Text RemoveInvalidChars(const Text& text);
  Status AddKeyword(const Text& text);
  bool IsKeyword(const Text& text) const;

  bool IsDuplicateName(std::uint32_t containerID, const Text& text, bool confine) const;
  Status FindNameInGlobalContainer(const Text& text, std::uint32_t* id) const;
  bool IsGlobalName(const Text& text) const { return FindNameInGlobalContainer(text, nullptr) == kOk; }
  bool FindNameInTargetNameSpace(const Text& text, std::uint32_t containerID) const;
  bool FindName(std::uint32_t containerID, const Text& text, bool descend) const;
  Status GetName(std::uint32_t nameID, Text* text) const;
  ListAnswer GetList(ListKind kind, std::uint32_t containerID, int capacity) const;
  std::uint32_t GetID(std::uint32_t containerID, const Text& text) const;
  int GetNameSize(std::uint32_t containerID) const;

  Status AddName(std::uint32_t& id, std::uint32_t containerID, const Text& text, std::uint32_t kind,
                 bool check, bool confine);
  // `posted` is left alone when the outcome is open (no such container).
  Status DeleteName(std::uint32_t containerID, std::uint32_t nameID, bool notify);
  Status Rename(std::uint32_t containerID, std::uint32_t nameID, const Text& text, std::uint32_t kind,
                bool notify, bool confine);
  Status Rename(std::uint32_t containerID, const Text& oldText, const Text& newText,
                std::uint32_t kind, bool notify, bool confine);

  Status GetNextName(std::uint32_t containerID, const Text& base, int digits, Text* result);

  std::vector<std::uint8_t> Save();
  // Load from a storage whose "NameServer" stream holds `bytes`, or that has
  // no such stream.
  Status Load(const std::optional<std::vector<std::uint8_t>>& bytes);

  std::vector<std::unique_ptr<Container>> tops;
  std::vector<Text> keywords;
  bool dirty = false;
  std::vector<Posted> posted;

 private:
  int GetNextObjectCount(std::uint32_t containerID, const Text& base, bool reset);
  void Post(const char16_t* name, std::uint32_t containerID, std::uint32_t nameID, Text oldName = {},
            Text newName = {});
};

}  // namespace nametree::model
