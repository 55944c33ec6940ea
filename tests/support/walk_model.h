// The plain reference for the server's lookups: its tree walked table by
// table through the public container API, with no index anywhere. The
// tree-index test and the operations fuzzer both drive random trees with it,
// so it must not need GoogleTest.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "nametree/name_server.h"

namespace nametree::test {

// The server's top-level containers in list order, even where IDs repeat;
// each program reaches them through its own test access.
using TopsOf = std::vector<CNameContainer*> (*)(const CNameServer&);

// A snapshot: its answers hold until the tree changes.
class TreeWalk {
 public:
  using Kid = std::pair<std::uint32_t, CNameContainer*>;  // the key a table holds it under

  TreeWalk(const CNameServer& server, TopsOf topsOf);

  const std::vector<CNameContainer*>& Tops() const { return tops_; }
  // Every container of the tree, in pre-order.
  const std::vector<CNameContainer*>& Everything() const { return all_; }
  const std::vector<Kid>& Kids(const CNameContainer* c) const { return kids_.at(c); }
  CNameContainer* Container(std::uint32_t id) const;
  CNameContainer* HolderOfName(std::uint32_t id) const;
  bool Duplicate(std::uint32_t cid, const CString& text, bool confine, CDuplicateHit* hit) const;
  bool IsGlobal(const CString& text) const;
  bool FindName(std::uint32_t cid, const CString& text, bool descend) const;
  std::uint32_t GetID(std::uint32_t cid, const CString& text) const;

 private:
  CNameContainer* Below(const CNameContainer* c, std::uint32_t id) const;
  CNameContainer* HolderBelow(CNameContainer* c, std::uint32_t id) const;
  // The containers whose table holds a text, with its ID there.
  using Holders = std::unordered_map<const CNameContainer*, std::uint32_t>;
  const Holders& HoldersOf(const CString& text) const;
  bool Search(const CNameContainer* c, const Holders& held, bool descend, std::uint32_t* id) const;
  bool InTrees(const CString& text, const std::function<bool(const CNameContainer*)>& want, CDuplicateHit::Where where,
               CDuplicateHit* hit) const;

  const CNameServer& s_;
  std::vector<CNameContainer*> tops_, all_;
  std::unordered_map<const CNameContainer*, std::vector<Kid>> kids_;
  // Answers asked once per ID and per text.
  mutable std::unordered_map<std::uint32_t, CNameContainer*> containers_;
  mutable std::map<CString, Holders> holders_;
};

// A number below n, 0 when n is 0.
using Pick = std::function<std::uint32_t(std::uint32_t n)>;

// Runs `steps` random changes on a fresh server whose trees repeat IDs and
// texts: mostly straight through its containers (names, types, IDs,
// sub-containers, the FromData entries, saved records loaded under other
// IDs), now and then through the server or by saving and loading it. After
// each change every lookup of the server must give the walk's answer.
// Returns the first fault found, described, or empty.
std::string RandomRun(TopsOf topsOf, const Pick& pick, int steps);

std::vector<std::uint8_t> SavedRecord(const CNameContainer& c);

}  // namespace nametree::test
