// The read model: the tree walk against the trace dump, the document check
// finding by finding, and the last issued ID a document stored.
#include <algorithm>
#include <tuple>
#include <utility>

#include "nametree/document_check.h"
#include "nametree/memory_storage.h"
#include "nametree/tree_walk.h"
#include "server_fixture.h"

namespace nametree::test {
namespace {

using Where = CDuplicateHit::Where;
using Kind = DocumentFindingKind;

// (container?, id, depth, text): one step of a walk.
using Step = std::tuple<bool, std::uint32_t, int, CString>;

std::vector<Step> Traced(const CNameServer& s) {
  std::vector<Step> steps;
  s.TraceDumpNameServer([&](const CString& indent, bool isContainer, std::uint32_t id, std::int16_t, const CString& t) {
    steps.emplace_back(isContainer, id, static_cast<int>(indent.size() / 2) - 1, t);
  });
  return steps;
}

std::vector<Step> Walked(const TreeWalk& walk) {
  std::vector<Step> steps;
  for (ContainerRef c : walk) {
    steps.emplace_back(true, c.Id(), c.Depth(), CString());
    for (NameRef n : c.Names()) steps.emplace_back(false, n.Id(), c.Depth(), n.Text());
  }
  return steps;
}

// A tree with full buckets, shared buckets, several tops and three levels.
class WalkTest : public ServerTest {
 protected:
  void SetUp() override {
    global = server.AddContainer(0, kGlobalContainer);
    target = server.AddContainer(0, kTargetContainer);
    plain = server.AddContainer(0, kOrdinaryContainer);
    for (int i = 0; i < 40; ++i) {
      const std::uint32_t sub = server.AddContainer(i % 2 ? global : target, kTargetContainer);
      subs.push_back(sub);
      for (int j = 0; j < 3; ++j) Put(server.AddContainer(sub, kOrdinaryContainer), u"N" + Num(i * 3 + j));
    }
    for (int i = 0; i < 700; ++i) Put(i % 3 ? global : plain, u"Name" + Num(i));
  }
  static CString Num(int i) {
    const std::string s = std::to_string(i);
    return CString(s.begin(), s.end());
  }
  std::uint32_t global = 0, target = 0, plain = 0;
  std::vector<std::uint32_t> subs;
};

TEST_F(WalkTest, FollowsTheTraceOrderWithParentsKeysAndCounts) {
  EXPECT_EQ(Walked(TreeWalk(server)), Traced(server));
  std::size_t containers = 0, names = 0;
  for (ContainerRef c : TreeWalk(server)) {
    ++containers;
    names += c.NameCount();
    EXPECT_EQ(c.Key(), c.Id());  // tables hold their children under their IDs
    EXPECT_EQ(c.ParentId(), c.Depth() ? server.GetContainer(c.Id())->GetParentID() : 0u);
    EXPECT_EQ(c.ChildCount(), static_cast<std::size_t>(server.GetContainer(c.Id())->GetNumSubContainers()));
    EXPECT_EQ(c.Path().size(), static_cast<std::size_t>(c.Depth()) + 1);
    EXPECT_EQ(c.Path().back(), c.Id());
  }
  EXPECT_EQ(containers, 3u + 40 * 4);
  EXPECT_EQ(names, 700u + 120);
}

TEST_F(WalkTest, SubTreesAndDepthLimits) {
  struct Case {
    std::uint32_t from;
    int maxDepth;
    std::size_t containers;
    int firstDepth;
  };
  const std::uint32_t deep = subs[1];
  for (const Case& k : {Case{global, -1, 1 + 20 * 4, 0}, Case{global, 0, 1, 0}, Case{global, 1, 21, 0},
                        Case{deep, -1, 4, 1}, Case{deep, 0, 1, 1}, Case{0xDEAD, -1, 0, 0}}) {
    std::size_t n = 0;
    int first = -1;
    for (ContainerRef c : TreeWalk(server, k.from, k.maxDepth)) {
      if (first < 0) first = c.Depth();
      EXPECT_LE(c.Depth() - first, k.maxDepth < 0 ? 99 : k.maxDepth);
      ++n;
    }
    EXPECT_EQ(n, k.containers) << k.from << " " << k.maxDepth;
    if (n) {
      EXPECT_EQ(first, k.firstDepth);
    }
  }
  std::size_t tops = 0;
  for (ContainerRef c : TreeWalk::Levels(server, 0)) tops += c.Depth() == 0;
  EXPECT_EQ(tops, 3u);
  std::vector<std::uint32_t> children;
  for (ContainerRef c : TreeWalk(server, global, 0))
    for (ContainerRef child : c.Children()) children.push_back(child.Id());
  std::vector<std::uint32_t> walked;
  for (ContainerRef c : TreeWalk(server, global, 1))
    if (c.Depth() == 1) walked.push_back(c.Id());
  EXPECT_EQ(children, walked);
}

TEST_F(ServerTest, TheStoredLastIssuedIDIsWhatTheDocumentSaid) {
  EXPECT_EQ(server.GetStoredLastIssuedID(), 0u);
  Put(server.AddContainer(0, kOrdinaryContainer), u"A");
  const std::uint32_t saved = CNameContainer::GetLastIssuedNameID();
  ComPtr<IStorage> doc = CreateMemoryStorage();
  ASSERT_EQ(server.Save(doc.Get()), S_OK);
  CNameServer other;
  ASSERT_EQ(other.Load(doc.Get()), S_OK);
  CNameContainer::SetLastIssuedNameID(saved + 50);  // another document moved the counter on
  EXPECT_EQ(other.GetStoredLastIssuedID(), saved);
}

struct Expected {
  Kind kind;
  bool warning;
  CString text;
  Where where;
  CString other;
};

std::vector<Expected> Summary(const std::vector<DocumentFinding>& findings) {
  std::vector<Expected> out;
  for (const DocumentFinding& f : findings) out.push_back({f.kind, f.warning, f.text, f.where, f.otherText});
  return out;
}

bool operator==(const Expected& a, const Expected& b) {
  return std::tie(a.kind, a.warning, a.text, a.where, a.other) == std::tie(b.kind, b.warning, b.text, b.where, b.other);
}
std::string Ascii(const CString& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c);
  return out;
}
void PrintTo(const Expected& e, std::ostream* os) {
  *os << DocumentFindingKindName(e.kind) << (e.warning ? " warning " : " error ") << Ascii(e.text) << " where "
      << static_cast<int>(e.where) << " other " << Ascii(e.other);
}

std::vector<Expected> Sorted(std::vector<Expected> v) {
  std::sort(v.begin(), v.end(), [](const Expected& a, const Expected& b) {
    return std::tie(a.text, a.kind, a.where) < std::tie(b.text, b.kind, b.where);
  });
  return v;
}

TEST_F(ServerTest, TheDocumentCheckReportsEachFinding) {
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  const std::uint32_t target = server.AddContainer(0, kTargetContainer);
  const std::uint32_t inGlobal = server.AddContainer(global, kTargetContainer);
  const std::uint32_t plain = server.AddContainer(0, kOrdinaryContainer);
  Put(global, u"Pump");
  Put(target, u"Valve");
  Put(inGlobal, u"VALVE");     // a target name from inside the global tree
  Put(target, u"pump");        // the global namespace
  Put(target, u"Pum\u0440");   // Cyrillic er: looks like Pump
  Put(plain, u"1st");          // breaks the rule
  CNameContainer* c = server.GetContainer(plain);
  c->AddNameFromData(1000, u"Motor", 0);
  c->AddNameFromData(2000, u"MOTOR", 0);  // one text twice, walked after the first
  Put(plain, u"While");
  server.AddKeyword(u"while");
  Put(plain, u"Evil\u202Egnp");  // a hidden bidi control, and no valid name
  CNameContainer::SetLastIssuedNameID(5000);  // above the IDs entered by hand
  const std::vector<DocumentFinding> found = CheckDocument(server, {});
  EXPECT_FALSE(DocumentCheckFails({}, {}));
  EXPECT_TRUE(DocumentCheckFails(found, {}));
  const std::vector<Expected> expected = {
      {Kind::kCollision, false, u"Pump", Where::kTarget, u"pump"},
      {Kind::kCollision, false, u"VALVE", Where::kTarget, u"Valve"},
      {Kind::kCollision, false, u"Valve", Where::kGlobal, u"VALVE"},
      {Kind::kLookAlike, true, u"pump", Where::kOwnTree, u"Pum\u0440"},
      {Kind::kCollision, false, u"pump", Where::kGlobal, u"Pump"},
      {Kind::kLookAlike, true, u"Pum\u0440", Where::kOwnTree, u"pump"},
      {Kind::kLookAlike, true, u"Pum\u0440", Where::kGlobal, u"Pump"},
      {Kind::kInvalid, false, u"1st", Where::kNone, u""},
      {Kind::kTwice, false, u"MOTOR", Where::kNone, u"Motor"},
      {Kind::kKeyword, false, u"While", Where::kNone, u""},
      {Kind::kInvalid, false, u"Evil\u202Egnp", Where::kNone, u""},
      {Kind::kHiddenCharacter, true, u"Evil\u202Egnp", Where::kNone, u""},
  };
  EXPECT_EQ(Sorted(Summary(found)), Sorted(expected));
  // Containers in walk order: the global tree's findings come first.
  ASSERT_EQ(found.size(), expected.size());
  EXPECT_EQ(found[0].text, u"Pump");
  EXPECT_EQ(found[1].path, (std::vector<std::uint32_t>{global, inGlobal}));
  EXPECT_EQ(found[1].otherPath, (std::vector<std::uint32_t>{target}));
  CDuplicateHit hit;
  EXPECT_TRUE(server.FindDuplicate(inGlobal, u"PUM\u0420", false, &hit));
  EXPECT_EQ(hit.where, Where::kTarget);

  // The stored ID, an ID held twice, keywords given with the check.
  DocumentCheckOptions options;
  options.useStoredLastID = true;
  options.storedLastID = 1;
  options.keywords = {u"motor"};
  c->AddNameFromData(inGlobal, u"Copy", 0);
  const std::vector<DocumentFinding> more = CheckDocument(server, options);
  ASSERT_GE(more.size(), 2u);
  EXPECT_EQ(more[0].kind, Kind::kCounter);
  EXPECT_EQ(more[0].highestID, server.GetHighestID());
  EXPECT_EQ(more[1].kind, Kind::kRepeatedId);
  EXPECT_EQ(more[1].storedID, inGlobal);
  EXPECT_FALSE(more[1].otherIsName);
  EXPECT_EQ(more[1].otherPath, (std::vector<std::uint32_t>{global, inGlobal}));
  EXPECT_EQ(more[1].text, u"Copy");
  std::size_t keywords = 0;
  for (const DocumentFinding& f : more) keywords += f.kind == Kind::kKeyword;
  EXPECT_EQ(keywords, 2u);
}

TEST_F(ServerTest, InvisibleCodePointsDoNotHideALookAlike) {
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  const std::uint32_t target = server.AddContainer(0, kTargetContainer);
  Put(global, u"Pump");
  DocumentCheckOptions strict;
  strict.strict = true;
  for (char16_t c : {u'\uFE0F', u'\u034F', u'\u180B', u'\u3164', u'\u115F', u'\u17B4', u'\uFE00'}) {
    const CString spoof = CString(u"Pump") + c;
    std::uint32_t id = 0;
    ASSERT_EQ(server.AddName(id, target, spoof, kOrdinaryName, true), S_OK);  // the name rule stays as it is
    const std::vector<DocumentFinding> found = CheckDocument(server, {});
    EXPECT_EQ(Summary(found), (std::vector<Expected>{{Kind::kLookAlike, true, u"Pump", Where::kTarget, spoof},
                                                     {Kind::kHiddenCharacter, true, spoof, Where::kNone, u""},
                                                     {Kind::kLookAlike, true, spoof, Where::kGlobal, u"Pump"}}))
        << static_cast<int>(c);
    EXPECT_TRUE(DocumentCheckFails(found, strict));
    EXPECT_FALSE(DocumentCheckFails(found, {}));
    server.DeleteName(target, id, false);
  }
  for (CString hidden : {u"A\u202E", u"A\u2066", u"A\u2069", u"A\u200B", u"A\uFEFF", u"A\u2028"}) {
    Put(target, hidden);
    const std::vector<DocumentFinding> found = CheckDocument(server, {});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].kind, Kind::kHiddenCharacter);
    EXPECT_EQ(static_cast<std::uint32_t>(found[1].character), std::uint32_t{hidden[1]});
    EXPECT_EQ(found[1].index, 1);
    server.DeleteName(target, server.GetID(target, hidden), false);
  }
}

TEST(EntryLimitCheck, NamesTheFirstTableOverTheLimit) {
  CNameServer server;
  const std::uint32_t top = server.AddContainer(0, kOrdinaryContainer);
  CNameContainer* c = server.GetContainer(top);
  for (int i = 0; i <= kMaxEntriesPerTable; ++i) c->AddName(CString(1, static_cast<char16_t>(0x4E00 + i)));
  const std::vector<DocumentFinding> over = CheckEntryLimits(server);
  ASSERT_EQ(over.size(), 1u);
  EXPECT_EQ(over[0].limit, DocumentLimit::kNames);
  EXPECT_EQ(over[0].count, 32768u);
  EXPECT_EQ(over[0].path, std::vector<std::uint32_t>{top});
  c->DeleteName(c->GetIDOfName(u"\u4E00"));
  EXPECT_TRUE(CheckEntryLimits(server).empty());
}

}  // namespace
}  // namespace nametree::test
