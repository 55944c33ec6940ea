#include "support/walk_model.h"

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>
#include <utility>

#include "nametree/memory_storage.h"
#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree::test {
namespace {

using Where = CDuplicateHit::Where;

// Cased pairs, a keyword, letters beyond ASCII, a text that breaks the name
// rule, two texts whose hashes agree in their low 32 bits; the empty text
// last, for lookups only.
const std::vector<CString> kTexts{u"Pump",          u"pump",          u"Valve", u"TANK",   u"X1",
                                  u"\u00e9t\u00e9", u"\u00c9T\u00c9", u"_a b",  u"Q00551", u"Q00G9Q",
                                  u""};

auto OfType(std::int16_t t) {
  return [t](const CNameContainer* top) { return top->GetContainerType() == t; };
}

}  // namespace

TreeWalk::TreeWalk(const CNameServer& server, TopsOf topsOf) : s_(server), tops_(topsOf(server)) {
  std::function<void(CNameContainer*)> visit = [&](CNameContainer* c) {
    all_.push_back(c);
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(c->GetNumSubContainers()));
    c->GetSubContainerIDs(keys.data());
    std::vector<Kid>& kids = kids_[c];
    for (std::uint32_t k : keys) kids.emplace_back(k, c->FindContainer(k));
    for (const auto& [k, kid] : kids) visit(kid);
  };
  for (CNameContainer* top : tops_) visit(top);
}

CNameContainer* TreeWalk::Below(const CNameContainer* c, std::uint32_t id) const {
  for (const auto& [k, kid] : Kids(c))
    if (k == id) return kid;
  for (const auto& [k, kid] : Kids(c))
    if (CNameContainer* f = Below(kid, id)) return f;
  return nullptr;
}

CNameContainer* TreeWalk::HolderBelow(CNameContainer* c, std::uint32_t id) const {
  if (c->FindNameByID(id, nullptr) == S_OK) return c;
  for (const auto& [k, kid] : Kids(c))
    if (CNameContainer* f = HolderBelow(kid, id)) return f;
  return nullptr;
}

const TreeWalk::Holders& TreeWalk::HoldersOf(const CString& text) const {
  auto [at, fresh] = holders_.try_emplace(text);
  std::uint32_t id = 0;
  if (fresh)
    for (const CNameContainer* c : all_)
      if (c->FindIDByName(text, &id) == S_OK) at->second[c] = id;
  return at->second;
}

bool TreeWalk::Search(const CNameContainer* c, const Holders& held, bool descend, std::uint32_t* id) const {
  if (auto it = held.find(c); it != held.end()) return (*id = it->second, true);
  if (!descend || held.empty()) return false;
  for (const auto& [k, kid] : Kids(c)) {
    const std::int16_t t = kid->GetContainerType();
    if ((t == 2 || t == 3 || t == 4) && Search(kid, held, true, id)) return true;
  }
  return false;
}

CNameContainer* TreeWalk::Container(std::uint32_t id) const {
  auto [at, fresh] = containers_.try_emplace(id, nullptr);
  for (auto top = tops_.begin(); fresh && id != 0 && !at->second && top != tops_.end(); ++top)
    at->second = (*top)->GetID() == id ? *top : Below(*top, id);
  return at->second;
}

CNameContainer* TreeWalk::HolderOfName(std::uint32_t id) const {
  for (CNameContainer* top : tops_)
    if (CNameContainer* f = HolderBelow(top, id)) return f;
  return nullptr;
}

bool TreeWalk::InTrees(const CString& text, const std::function<bool(const CNameContainer*)>& want, Where where,
                       CDuplicateHit* hit) const {
  const Holders& held = HoldersOf(text);
  for (CNameContainer* top : tops_) {
    std::uint32_t id = 0;
    if (!want(top) || !Search(top, held, true, &id)) continue;
    const CNameContainer* holder = HolderBelow(top, id);
    *hit = {where, (holder ? holder : top)->GetID(), id};
    return true;
  }
  return false;
}

bool TreeWalk::IsGlobal(const CString& text) const {
  CDuplicateHit unused;
  return InTrees(text, OfType(2), Where::kGlobal, &unused);
}

bool TreeWalk::Duplicate(std::uint32_t cid, const CString& text, bool confine, CDuplicateHit* hit) const {
  *hit = {};
  const CNameContainer* c = Container(cid);
  if (!c) return false;
  auto keyword = [&] { return s_.IsKeyword(text) && (*hit = {Where::kKeyword, 0, 0}, true); };
  auto global = [&] { return InTrees(text, OfType(2), Where::kGlobal, hit); };
  const std::int16_t type = c->GetContainerType();
  if (type == 0 || (type == 4 && confine)) {
    std::uint32_t id = 0;
    if (c->FindIDByName(text, &id) == S_OK) return (*hit = {Where::kOwnContainer, c->GetID(), id}, true);
    return keyword() || global();
  }
  const CNameContainer* root = const_cast<CNameContainer*>(c)->FindRootContainer();
  if (keyword()) return true;
  if (root->IsGlobalContainer()) return global() || InTrees(text, OfType(3), Where::kTarget, hit);
  const std::uint32_t rid = root->GetID();
  auto own = [rid](const CNameContainer* t) {
    return (rid == kAllTargets && t->GetContainerType() == 3) || t->GetID() == rid;
  };
  return InTrees(text, own, Where::kOwnTree, hit) || global();
}

bool TreeWalk::FindName(std::uint32_t cid, const CString& text, bool descend) const {
  if (cid == 0) return false;
  std::uint32_t id = 0;
  const Holders& held = HoldersOf(text);
  for (CNameContainer* top : tops_) {
    const CNameContainer* c = top->GetID() == cid ? top : Below(top, cid);
    if (c && Search(c, held, descend, &id)) return true;
  }
  return false;
}

std::uint32_t TreeWalk::GetID(std::uint32_t cid, const CString& text) const {
  if (cid == 0) return static_cast<std::uint32_t>(E_FAIL);
  std::uint32_t id = 0;
  for (CNameContainer* top : tops_)
    if (top->GetContainerType() == 2 && Search(top, HoldersOf(text), true, &id)) return id;
  const CNameContainer* c = Container(cid);
  return c ? c->GetIDOfName(text) : 0;
}

std::vector<std::uint8_t> SavedRecord(const CNameContainer& c) {
  ComPtr<IStream> stream = CreateMemoryStream();
  if (c.Save(stream.Get()) != S_OK) return {};
  return MemoryStreamBytes(stream.Get());
}

namespace {

// Every ID up to two past the highest issued or held, and each text from
// a few of the containers, through every lookup.
std::string Disagreement(const CNameServer& s, const TreeWalk& walk, std::minstd_rand& rng) {
  std::vector<std::uint32_t> topIDs;
  for (const CNameContainer* top : walk.Tops()) topIDs.push_back(top->GetID());
  if (s.GetTopLevelContainerIDs() != topIDs) return "GetTopLevelContainerIDs";
  const std::uint32_t last = std::max(CNameContainer::GetLastIssuedNameID(), s.GetHighestID()) + 2;
  for (std::uint32_t id = 0; id <= last; ++id) {
    const std::string at = " of ID " + std::to_string(id);
    if (s.GetContainer(id) != walk.Container(id)) return "GetContainer" + at;
    const CNameContainer* holder = walk.HolderOfName(id);
    if (s.FindContainerOfName(id) != holder) return "FindContainerOfName" + at;
    CString text = u"?", expected = u"?";
    if (holder) holder->FindNameByID(id, &expected);
    if (s.GetName(id, text) != (holder ? S_OK : E_FAIL) || text != expected) return "GetName" + at;
  }
  std::vector<std::uint32_t> cids{0, 1, kAllTargets, static_cast<std::uint32_t>(1 + rng() % last)};
  const std::vector<CNameContainer*>& all = walk.Everything();
  for (std::size_t i = 0; i < 6 && !all.empty(); ++i) cids.push_back(all[rng() % all.size()]->GetID());
  for (const CString& text : kTexts) {
    if (s.IsGlobalName(text) != walk.IsGlobal(text)) return "IsGlobalName of \"" + ToUtf8(text) + "\"";
    for (std::uint32_t cid : cids) {
      const std::string at = " of \"" + ToUtf8(text) + "\" from " + std::to_string(cid);
      if (s.GetID(cid, text) != walk.GetID(cid, text)) return "GetID" + at;
      for (bool flag : {false, true}) {
        CDuplicateHit expected, actual;
        const bool dup = walk.Duplicate(cid, text, flag, &expected);
        if (s.IsDuplicateName(cid, text, flag) != dup) return "IsDuplicateName" + at;
        if (s.FindDuplicate(cid, text, flag, &actual) != dup ||
            std::tie(actual.where, actual.containerID, actual.nameID) !=
                std::tie(expected.where, expected.containerID, expected.nameID))
          return "FindDuplicate" + at;
        if (s.FindName(cid, text, flag) != walk.FindName(cid, text, flag)) return "FindName" + at;
      }
    }
  }
  return {};
}

std::string RandomChange(std::unique_ptr<CNameServer>& server, TopsOf topsOf, const Pick& pick) {
  const TreeWalk walk(*server, topsOf);
  const std::vector<CNameContainer*>& all = walk.Everything();
  const std::vector<CNameContainer*>& tops = walk.Tops();
  auto anyText = [&]() -> const CString& { return kTexts[pick(static_cast<std::uint32_t>(kTexts.size() - 1))]; };
  const CString& text = anyText();
  const std::uint32_t anyID = 1 + pick(CNameContainer::GetLastIssuedNameID() + 2);
  const auto type = static_cast<std::int16_t>(pick(6));
  const bool flag = pick(2);
  if (all.empty() || pick(12) == 0) {
    // Now and then under the ID of a top-level container that is already there.
    if (!tops.empty() && pick(2))
      CNameContainer::SetLastIssuedNameID(tops[pick(static_cast<std::uint32_t>(tops.size()))]->GetID() - 1);
    server->AddContainer(0, static_cast<std::int16_t>(2 + pick(3)));
    return {};
  }
  CNameContainer* c = all[pick(static_cast<std::uint32_t>(all.size()))];
  const std::vector<TreeWalk::Kid>& kids = walk.Kids(c);
  const TreeWalk::Kid kid = kids.empty() ? TreeWalk::Kid{} : kids[pick(static_cast<std::uint32_t>(kids.size()))];
  CNameContainer* either = kid.second && flag ? kid.second : c;
  // Mostly one of the container's own names, so that edits land.
  std::vector<std::uint32_t> held(static_cast<std::size_t>(c->GetNumNames()) + 1);
  c->GetAllIDsInContainer(held.data());
  held.pop_back();
  const std::uint32_t nameID = !held.empty() && pick(4) ? held[pick(static_cast<std::uint32_t>(held.size()))] : anyID;
  CString heldText;
  const CString& oldText = c->FindNameByID(nameID, &heldText) == S_OK && pick(4) ? heldText : anyText();
  switch (pick(all.size() > 40 ? 16 : 20)) {
    case 0:
      c->DeleteName(nameID);
      break;
    case 1:
      c->Rename(nameID, text);
      break;
    case 2:
      c->Rename(oldText, text);
      break;
    case 3:
      c->SetContainerType(type);
      break;
    case 4:
      if (kid.second) c->DeleteContainer(kid.first);
      break;
    case 5:
      if (pick(4) == 0) c->ResetContainer();
      break;
    case 6:
      if (pick(3) == 0) either->Shutdown();
      break;
    case 7: {  // a copy of some subtree, often its own, merged in under an ID of our choosing
      std::vector<std::uint8_t> bytes = SavedRecord(flag ? *c : *all[pick(static_cast<std::uint32_t>(all.size()))]);
      if (bytes.size() < 6) return "Save of a container";
      for (int i = 0; i < 4; ++i) bytes[2 + i] = static_cast<std::uint8_t>(anyID >> (8 * i));
      if (all.size() <= 40 && c->Load(CreateMemoryStream(bytes).Get()) != S_OK) return "Load of a saved record";
      break;
    }
    case 8:
      either->CreateContainerFromData(anyID, type);
      if (either != c && pick(2)) either->SetParent(c);
      break;
    case 9:
      c->AddContainerFromData(c, anyID, type);
      break;
    case 10:
      c->AddNameFromData(anyID, text, 0);
      break;
    case 11: {  // a container without a parent goes as the first top-level entry with its ID
      const std::uint32_t id = flag ? tops[pick(static_cast<std::uint32_t>(tops.size()))]->GetID() : anyID;
      std::vector<CNameContainer*> left = tops;
      const CNameContainer* found = walk.Container(id);
      const bool fromList = !found || !found->GetParent();
      if (found && fromList) {
        auto it = std::find_if(left.begin(), left.end(), [&](auto* t) { return t->GetID() == id; });
        if (it != left.end()) left.erase(it);
      }
      server->DeleteContainer(id, false);
      if (fromList && topsOf(*server) != left) return "DeleteContainer of top-level " + std::to_string(id);
      break;
    }
    case 12:
      CNameContainer::SetLastIssuedNameID(pick(CNameContainer::GetLastIssuedNameID()));
      break;
    case 13: {  // by name ID in the container given, or else in the first holder
      const std::uint32_t cid = flag ? 0 : c->GetID();
      CNameContainer* holder = cid ? walk.Container(cid) : walk.HolderOfName(nameID);
      CString was, now;
      const bool held = holder && holder->FindNameByID(nameID, &was) == S_OK;
      const bool confine = pick(2);
      CDuplicateHit hit;
      HRESULT expected = S_OK;
      if (!holder) {
        expected = E_FAIL;
      } else if (text == was) {
        expected = S_FALSE;
      } else if (!server->IsValidName(text, kAllowLeadingUnderscore)) {
        expected = E_NAME_INVALID;
      } else if (ToUpper(text) != ToUpper(was) && walk.Duplicate(cid ? cid : holder->GetID(), text, confine, &hit)) {
        expected = E_NAME_DUPLICATE;
      } else if (!held) {
        expected = S_FALSE;
      }
      if (server->Rename(cid, nameID, text, kAllowLeadingUnderscore, false, confine) != expected ||
          (expected == S_OK && (holder->FindNameByID(nameID, &now) != S_OK || now != text)))
        return "Rename of ID " + std::to_string(nameID) + " in " + std::to_string(cid);
      server->Rename(c->GetID(), anyText(), text, kAllowLeadingUnderscore, false, flag);
      const CNameContainer* from = walk.Container(cid);
      const HRESULT deleted = !from || from->FindNameByID(nameID, nullptr) == S_OK ? S_OK : E_FAIL;
      if (server->DeleteName(cid, nameID, false) != deleted) return "DeleteName of ID " + std::to_string(nameID);
      break;
    }
    case 14: {
      const std::uint32_t cid = pick(4) ? c->GetID() : anyID;
      const std::uint32_t kind = pick(4) ? kOrdinaryName : kAllowLeadingUnderscore;
      const bool check = pick(4) != 0;
      CDuplicateHit hit;
      HRESULT expected = S_OK;
      if (cid == 0) {
        expected = E_FAIL;
      } else if (kind == kOrdinaryName && !server->IsValidName(text, kind)) {
        expected = E_NAME_INVALID;
      } else if (check && walk.Duplicate(cid, text, flag, &hit)) {
        expected = E_NAME_DUPLICATE;
      } else if (!walk.Container(cid)) {
        expected = E_FAIL;
      }
      std::uint32_t id = 0;
      CString now;
      if (server->AddName(id, cid, text, kind, check, flag) != expected ||
          (expected == S_OK && walk.Container(cid)->FindNameByID(id, &now) != S_OK))
        return "AddName of \"" + ToUtf8(text) + "\" to " + std::to_string(cid);
      break;
    }
    case 15: {
      ComPtr<IStorage> storage = CreateMemoryStorage();
      if (server->Save(storage.Get()) != S_OK) return "Save";
      server = std::make_unique<CNameServer>();
      server->AddKeyword(u"Tank");
      if (server->Load(storage.Get()) != S_OK) return "Load";
      break;
    }
    default:
      c->AddName(text);
      [[fallthrough]];
    case 16:
      c->AddContainer(type);
      break;
  }
  return {};
}

}  // namespace

std::string RandomRun(TopsOf topsOf, const Pick& pick, int steps) {
  CNameContainer::SetLastIssuedNameID(0);
  auto server = std::make_unique<CNameServer>();
  server->AddKeyword(u"Tank");
  std::minstd_rand rng(1);
  for (int step = 0; step < steps; ++step) {
    std::string fault = RandomChange(server, topsOf, pick);
    if (fault.empty()) fault = server->CheckInvariants();
    if (fault.empty()) fault = Disagreement(*server, TreeWalk(*server, topsOf), rng);
    if (!fault.empty()) return "step " + std::to_string(step) + ": " + fault;
  }
  return {};
}

}  // namespace nametree::test
