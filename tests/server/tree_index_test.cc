// The server answers its lookups without walking the tree. A plain walk over
// the public container API is the reference: trees with repeated IDs and
// texts are changed directly through their containers, and after every step
// each lookup must give what the walk gives.
#include <algorithm>
#include <functional>
#include <memory>
#include <random>

#include "nametree/memory_storage.h"
#include "server_fixture.h"

namespace nametree {
namespace test {
namespace {

using Access = CNameServerTestAccess;
using Where = CDuplicateHit::Where;
using Kid = std::pair<std::uint32_t, CNameContainer*>;

std::vector<Kid> Kids(const CNameContainer* c) {
  std::vector<std::uint32_t> keys(static_cast<std::size_t>(c->GetNumSubContainers()));
  c->GetSubContainerIDs(keys.data());
  std::vector<Kid> kids;
  for (std::uint32_t k : keys) kids.emplace_back(k, c->FindContainer(k));
  return kids;
}

bool Searched(const CNameContainer* c) {
  const std::int16_t t = c->GetContainerType();
  return t == 2 || t == 3 || t == 4;
}

struct Reference {
  const CNameServer& s;

  CNameContainer* Below(const CNameContainer* c, std::uint32_t id) const {
    const std::vector<Kid> kids = Kids(c);
    for (const auto& [k, kid] : kids)
      if (k == id) return kid;
    for (const auto& [k, kid] : kids)
      if (CNameContainer* f = Below(kid, id)) return f;
    return nullptr;
  }
  CNameContainer* Container(std::uint32_t id) const {
    if (id == 0) return nullptr;
    for (CNameContainer* top : Access::Tops(s)) {
      if (top->GetID() == id) return top;
      if (CNameContainer* f = Below(top, id)) return f;
    }
    return nullptr;
  }
  CNameContainer* HolderOfName(CNameContainer* c, std::uint32_t id) const {
    CString text;
    if (c->FindNameByID(id, &text) == S_OK) return c;
    for (const auto& [k, kid] : Kids(c))
      if (CNameContainer* f = HolderOfName(kid, id)) return f;
    return nullptr;
  }
  CNameContainer* HolderOfName(std::uint32_t id) const {
    for (CNameContainer* top : Access::Tops(s))
      if (CNameContainer* f = HolderOfName(top, id)) return f;
    return nullptr;
  }
  bool Search(const CNameContainer* c, const CString& text, bool descend, std::uint32_t* id) const {
    if (!text.empty() && c->FindIDByName(text, id) == S_OK) return true;
    if (!descend) return false;
    for (const auto& [k, kid] : Kids(c))
      if (Searched(kid) && Search(kid, text, true, id)) return true;
    return false;
  }
  bool InTrees(const CString& text, const std::function<bool(const CNameContainer*)>& want, Where where,
               CDuplicateHit* hit) const {
    for (CNameContainer* top : Access::Tops(s)) {
      std::uint32_t id = 0;
      if (!want(top) || !Search(top, text, true, &id)) continue;
      const CNameContainer* holder = HolderOfName(top, id);
      *hit = {where, (holder ? holder : top)->GetID(), id};
      return true;
    }
    return false;
  }
  bool Duplicate(std::uint32_t cid, const CString& text, bool confine, CDuplicateHit* hit) const {
    *hit = {};
    const CNameContainer* c = Container(cid);
    if (!c) return false;
    auto keyword = [&] { return s.IsKeyword(text) && (*hit = {Where::kKeyword, 0, 0}, true); };
    auto ofType = [](std::int16_t t) { return [t](const CNameContainer* top) { return top->GetContainerType() == t; }; };
    auto global = [&] { return InTrees(text, ofType(2), Where::kGlobal, hit); };
    const std::int16_t type = c->GetContainerType();
    if (type == 0 || (type == 4 && confine)) {
      std::uint32_t id = 0;
      if (c->FindIDByName(text, &id) == S_OK) return (*hit = {Where::kOwnContainer, c->GetID(), id}, true);
      return keyword() || global();
    }
    const CNameContainer* root = const_cast<CNameContainer*>(c)->FindRootContainer();
    if (keyword()) return true;
    if (root->IsGlobalContainer()) return global() || InTrees(text, ofType(3), Where::kTarget, hit);
    const std::uint32_t rid = root->GetID();
    auto own = [rid](const CNameContainer* t) {
      return (rid == kAllTargets && t->GetContainerType() == 3) || t->GetID() == rid;
    };
    return InTrees(text, own, Where::kOwnTree, hit) || global();
  }
  bool FindName(std::uint32_t cid, const CString& text, bool descend) const {
    if (cid == 0) return false;
    std::uint32_t id = 0;
    for (CNameContainer* top : Access::Tops(s)) {
      const CNameContainer* c = top->GetID() == cid ? top : Below(top, cid);
      if (c && Search(c, text, descend, &id)) return true;
    }
    return false;
  }
  std::uint32_t GetID(std::uint32_t cid, const CString& text) const {
    if (cid == 0) return static_cast<std::uint32_t>(E_FAIL);
    std::uint32_t id = 0;
    for (CNameContainer* top : Access::Tops(s))
      if (top->GetContainerType() == 2 && Search(top, text, true, &id)) return id;
    const CNameContainer* c = Container(cid);
    return c ? c->GetIDOfName(text) : 0;
  }
};

const std::vector<CString> kTexts{u"Pump", u"pump", u"Valve", u"TANK", u"Motor", u"Fan", u"X1", u""};

void ExpectAgreement(const CNameServer& s, const std::vector<std::uint32_t>& cids, const std::string& where) {
  const Reference ref{s};
  const std::uint32_t last = CNameContainer::GetLastIssuedNameID();
  for (std::uint32_t id = 0; id <= last + 2; ++id) {
    ASSERT_EQ(s.GetContainer(id), ref.Container(id)) << where << ", container " << id;
    const CNameContainer* holder = ref.HolderOfName(id);
    ASSERT_EQ(s.FindContainerOfName(id), holder) << where << ", name " << id;
    CString text = u"?", expected = u"?";
    if (holder) holder->FindNameByID(id, &expected);
    ASSERT_EQ(s.GetName(id, text), holder ? S_OK : E_FAIL) << where << ", name " << id;
    ASSERT_EQ(text, expected) << where;
  }
  for (const CString& text : kTexts) {
    CDuplicateHit unused;
    auto global = [](const CNameContainer* t) { return t->GetContainerType() == 2; };
    ASSERT_EQ(s.IsGlobalName(text), ref.InTrees(text, global, Where::kGlobal, &unused)) << where;
    for (std::uint32_t cid : cids) {
      const std::string at = where + ", container " + std::to_string(cid) + ", text " +
                             std::string(text.begin(), text.end());
      for (bool flag : {false, true}) {
        CDuplicateHit expected, actual;
        const bool dup = ref.Duplicate(cid, text, flag, &expected);
        ASSERT_EQ(s.IsDuplicateName(cid, text, flag), dup) << at;
        ASSERT_EQ(s.FindDuplicate(cid, text, flag, &actual), dup) << at;
        ASSERT_EQ(std::tie(actual.where, actual.containerID, actual.nameID),
                  std::tie(expected.where, expected.containerID, expected.nameID))
            << at;
        ASSERT_EQ(s.FindName(cid, text, flag), ref.FindName(cid, text, flag)) << at << ", descend " << flag;
      }
      ASSERT_EQ(s.GetID(cid, text), ref.GetID(cid, text)) << at;
    }
  }
}

std::vector<CNameContainer*> Everything(const CNameServer& s) {
  std::vector<CNameContainer*> all;
  std::function<void(CNameContainer*)> visit = [&](CNameContainer* c) {
    all.push_back(c);
    for (const auto& [k, kid] : Kids(c)) visit(kid);
  };
  for (CNameContainer* top : Access::Tops(s)) visit(top);
  return all;
}

std::vector<std::uint8_t> Saved(const CNameContainer& c) {
  ComPtr<IStream> stream = CreateMemoryStream();
  EXPECT_EQ(c.Save(stream.Get()), S_OK);
  return MemoryStreamBytes(stream.Get());
}

// One change, mostly made directly through a container of the tree.
void Mutate(std::unique_ptr<CNameServer>& server, std::mt19937& rng) {
  const std::vector<CNameContainer*> all = Everything(*server);
  auto pick = [&](std::size_t n) { return n ? static_cast<std::uint32_t>(rng() % n) : 0u; };
  const CString& text = kTexts[pick(7)];
  const std::uint32_t anyID = 1 + pick(CNameContainer::GetLastIssuedNameID() + 2);
  const auto type = static_cast<std::int16_t>(pick(5));
  const std::vector<CNameContainer*> tops = Access::Tops(*server);
  if (all.empty() || pick(12) == 0) {
    // Now and then under the ID of a top-level container that is already there.
    if (!tops.empty() && pick(2)) CNameContainer::SetLastIssuedNameID(tops[pick(tops.size())]->GetID() - 1);
    server->AddContainer(0, static_cast<std::int16_t>(2 + pick(3)));
    return;
  }
  CNameContainer* c = all[pick(static_cast<std::uint32_t>(all.size()))];
  const std::vector<Kid> kids = Kids(c);
  CNameContainer* kid = kids.empty() ? nullptr : kids[pick(static_cast<std::uint32_t>(kids.size()))].second;
  switch (pick(all.size() > 40 ? 15 : 19)) {
    case 0: c->DeleteName(anyID); break;
    case 1: c->Rename(anyID, text); break;
    case 2: c->Rename(kTexts[pick(7)], text); break;
    case 3: c->SetContainerType(type); break;
    case 4: if (kid) c->DeleteContainer(kids[pick(static_cast<std::uint32_t>(kids.size()))].first); break;
    case 5: if (pick(4) == 0) c->ResetContainer(); break;
    case 6: if (kid && pick(3) == 0) kid->Shutdown(); break;
    case 7: {  // a copy of some subtree merged in, under an ID of our choosing
      std::vector<std::uint8_t> bytes = Saved(*all[pick(static_cast<std::uint32_t>(all.size()))]);
      for (int i = 0; i < 4; ++i) bytes[2 + i] = static_cast<std::uint8_t>(anyID >> (8 * i));
      ComPtr<IStream> stream = CreateMemoryStream(bytes);
      c->Load(stream.Get());
      break;
    }
    case 8:
      if (kid && pick(3) == 0) {
        kid->CreateContainerFromData(anyID, type);
        if (pick(2)) kid->SetParent(c);
      }
      break;
    case 9: c->AddContainerFromData(c, anyID, type); break;
    case 10: c->AddNameFromData(anyID, text, 0); break;
    case 11: {  // a container without a parent goes as the first top-level entry with its ID
      const std::uint32_t id = pick(2) ? tops[pick(tops.size())]->GetID() : anyID;
      std::vector<CNameContainer*> left = tops;
      const CNameContainer* found = Reference{*server}.Container(id);
      const bool fromList = !found || !found->GetParent();
      if (found && fromList) {
        auto it = std::find_if(left.begin(), left.end(), [&](auto* t) { return t->GetID() == id; });
        if (it != left.end()) left.erase(it);
      }
      server->DeleteContainer(id, false);
      if (fromList) {
        ASSERT_EQ(Access::Tops(*server), left);
      }
      break;
    }
    case 12: CNameContainer::SetLastIssuedNameID(pick(CNameContainer::GetLastIssuedNameID())); break;
    case 13: {
      std::uint32_t id = 0;
      server->Rename(pick(2) ? 0 : c->GetID(), anyID, text, kAllowLeadingUnderscore, false, pick(2));
      server->AddName(id, c->GetID(), text, kOrdinaryName, true, pick(2));
      break;
    }
    case 14: {
      ComPtr<IStorage> storage = CreateMemoryStorage();
      ASSERT_EQ(server->Save(storage.Get()), S_OK);
      server = std::make_unique<CNameServer>();
      server->AddKeyword(u"Tank");
      ASSERT_EQ(server->Load(storage.Get()), S_OK);
      break;
    }
    default: c->AddName(text); [[fallthrough]];
    case 15: c->AddContainer(type); break;
  }
}

TEST(TreeIndex, EveryLookupAgreesWithTheWalkWhileContainersChangeDirectly) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    CNameContainer::SetLastIssuedNameID(0);
    std::mt19937 rng(seed);
    auto server = std::make_unique<CNameServer>();
    server->AddKeyword(u"Tank");
    for (int step = 0; step < 160; ++step) {
      Mutate(server, rng);
      if (HasFatalFailure()) return;
      std::vector<std::uint32_t> cids{0, 1, kAllTargets};
      for (const CNameContainer* c : Everything(*server))
        if (rng() % 3 == 0) cids.push_back(c->GetID());
      for (int i = 0; i < 3; ++i) cids.push_back(1 + rng() % (CNameContainer::GetLastIssuedNameID() + 1));
      ExpectAgreement(*server, cids, "seed " + std::to_string(seed) + " step " + std::to_string(step));
      if (HasFatalFailure()) return;
    }
  }
}

// A live sub-container that Load gives a new ID stays where its parent's
// table holds it: under the old key.
TEST(TreeIndex, ALoadedSubContainerIsFoundByTheKeyItsParentHoldsItUnder) {
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer server;
  const std::uint32_t top = server.AddContainer(0, kTargetContainer);  // 1
  const std::uint32_t sub = server.AddContainer(top, kTargetContainer);  // 3
  CNameContainer record(true);
  record.CreateContainerFromData(100, kTargetContainer);
  record.AddNameFromData(101, u"Pump", 0);
  ComPtr<IStream> stream = CreateMemoryStream(Saved(record));
  CNameContainer* live = server.GetContainer(sub);
  ASSERT_EQ(live->Load(stream.Get()), S_OK);
  EXPECT_EQ(live->GetID(), 100u);
  EXPECT_EQ(server.GetContainer(sub), live);
  EXPECT_EQ(server.GetContainer(100), nullptr);
  EXPECT_TRUE(server.IsDuplicateName(top, u"pump", false));
  std::uint32_t id = 0;
  EXPECT_EQ(server.AddName(id, 100, u"Valve", kOrdinaryName, true), E_FAIL);
  EXPECT_EQ(server.DeleteContainer(100, false), S_OK);
  EXPECT_EQ(server.GetContainer(sub), live);
  EXPECT_EQ(server.DeleteContainer(sub, false), S_OK);
  EXPECT_EQ(server.GetContainer(sub), nullptr);
  EXPECT_FALSE(server.IsDuplicateName(top, u"pump", false));
}

TEST(TreeIndex, AParentThatWouldCloseACycleIsIgnored) {
  CNameContainer top;
  CNameContainer* child = top.FindContainer(top.AddContainer(kTargetContainer));
  CNameContainer* grandchild = child->FindContainer(child->AddContainer(kTargetContainer));
  top.SetParent(grandchild);
  child->SetParent(child);
  EXPECT_EQ(top.GetParent(), nullptr);
  EXPECT_EQ(child->GetParent(), &top);
  EXPECT_EQ(grandchild->FindRootContainer(), &top);
}

}  // namespace
}  // namespace test
}  // namespace nametree
