// The edit check against the whole-document check: after every random edit
// of a small, crowded tree, what it answers equals the findings the full
// check reports now and did not report before.
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "model/look_alike.h"
#include "nametree/document_check.h"
#include "nametree/tree_walk.h"
#include "server_fixture.h"

namespace nametree::test {
namespace {

using Key = std::tuple<int, std::uint32_t, std::uint32_t, int>;
Key KeyOf(const DocumentFinding& f) {
  return {static_cast<int>(f.kind), f.containerID, f.nameID, static_cast<int>(f.where)};
}

// Everything a printer shows of a finding.
using Shown = std::tuple<Key, bool, std::vector<std::uint32_t>, CString, std::uint32_t, std::uint32_t, CString, bool>;
Shown ShownOf(const DocumentFinding& f) {
  return {KeyOf(f), f.warning, f.path, f.text, f.otherContainerID, f.otherNameID, f.otherText, f.confusableSkeleton};
}

std::vector<Shown> Fresh(const std::vector<DocumentFinding>& before, const std::vector<DocumentFinding>& after) {
  std::map<Key, int> old;
  for (const DocumentFinding& f : before) old[KeyOf(f)]++;
  std::vector<Shown> out;
  for (const DocumentFinding& f : after)
    if (!old.count(KeyOf(f))) out.push_back(ShownOf(f));
  return out;
}

// The table for ASCII text gives the key ICU computes, for every pair of
// characters (where "0" and "O" meet).
TEST(LookAlikeKey, AsciiTextTakesTheKeyOfItsCharacters) {
  const LookAlikeKey key;
  for (char16_t a = 1; a < 128; ++a)
    for (char16_t b = 0; b < 128; b = static_cast<char16_t>(b + (b < 32 ? 31 : 1))) {
      const CString text = b ? CString{a, b} : CString(1, a);
      ASSERT_EQ(key(text), key.Computed(text)) << int(a) << " " << int(b);
    }
  EXPECT_EQ(key(u"P0MP"), key(u"POMP")) << "the skeleton itself is used";
}

// Texts that collide, look alike (Latin, Cyrillic, digit for letter),
// break the rule or are keywords.
const std::vector<CString> kTexts = {u"Pump", u"PUMP", u"pump", u"\u0420ump", u"Valve", u"VALVE", u"Va1ve",
                                     u"Vaive", u"_x", u"1x", u"If", u"BEGIN", u"Tag\u200B", u"Tag"};
const std::int16_t kTypes[] = {kOrdinaryContainer, kGlobalContainer, kTargetContainer, kLocalCheckContainer};

// Random edits of a server, each told to one EditCheck and compared with
// the difference of two full checks.
struct Editor {
  CNameServer& s;
  EditCheck& check;
  const DocumentCheckOptions& options;
  std::mt19937 random;
  std::vector<std::uint32_t> containers;
  int fresh = 0;

  std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(random() % n); }
  const CString& Text() { return kTexts[Pick(kTexts.size())]; }

  // One edit of kind op (0 add-container, 1-5 add, 6-7 rename, 8 delete,
  // 9 delete-container or keyword); false once no container is left.
  bool Step(std::size_t op, const std::string& where) {
    const std::vector<DocumentFinding> before = CheckDocument(s, options);
    std::vector<std::uint32_t> names;
    for (ContainerRef c : TreeWalk(s))
      for (NameRef n : c.Names()) names.push_back(n.Id());
    std::vector<DocumentFinding> answer;
    if (op == 0) {
      const std::uint32_t parent = containers.empty() || Pick(3) == 0 ? 0 : containers[Pick(containers.size())];
      check.BeforeAddContainer();
      const std::uint32_t id = s.AddContainer(parent, kTypes[Pick(4)]);
      answer = check.After(id != 0, id);
      if (id) containers.push_back(id);
    } else if (op <= 5 || names.empty()) {
      const CString& text = Text();
      const std::uint32_t in = containers[Pick(containers.size())];
      check.BeforeAddName(text);
      std::uint32_t id = 0;
      const HRESULT hr = s.AddName(id, in, text, kAllowLeadingUnderscore, Pick(3) == 0);
      answer = check.After(hr == S_OK, id);
    } else if (op <= 7) {
      const std::uint32_t id = names[Pick(names.size())];
      const CString& text = Text();
      check.BeforeRename(id, text);
      answer = check.After(s.Rename(0, id, text, kAllowLeadingUnderscore, Pick(2) == 0, false) == S_OK);
    } else if (op == 8) {
      const std::uint32_t id = names[Pick(names.size())];
      check.BeforeDeleteName(id);
      answer = check.After(s.DeleteName(s.FindContainerOfName(id)->GetID(), id, false) == S_OK);
    } else if (Pick(4) == 0) {
      const std::size_t at = Pick(containers.size());
      check.BeforeDeleteContainer(containers[at]);
      answer = check.After(s.DeleteContainer(containers[at], false) == S_OK);
      containers.clear();
      for (ContainerRef c : TreeWalk(s)) containers.push_back(c.Id());
    } else {
      const CString& word = Text();
      check.BeforeKeyword(word);
      answer = check.After(s.AddKeyword(word) == S_OK);
    }
    std::vector<Shown> got;
    for (const DocumentFinding& f : answer) got.push_back(ShownOf(f));
    const std::vector<Shown> want = Fresh(before, CheckDocument(s, options));
    EXPECT_EQ(got, want) << where << ", edit " << op;
    EXPECT_EQ(check.CheckInvariants(), "") << where << ", edit " << op;
    fresh += static_cast<int>(want.size());
    return !containers.empty() && got == want;
  }
};

TEST_F(ServerTest, AnEditCheckAnswersWhatTheFullCheckNewlyReports) {
  DocumentCheckOptions options;
  options.keywords = {u"if"};
  int fresh = 0;
  for (int round = 0; round < 300; ++round) {
    CNameServer s;
    s.AddKeyword(u"BEGIN");
    EditCheck check(s, options);
    Editor e{s, check, options, std::mt19937(11 + round), {}, 0};
    for (int step = 0; step < 60; ++step) {
      const std::size_t op = e.containers.size() < 3 ? 0 : e.Pick(10);
      if (!e.Step(op, "round " + std::to_string(round) + ", step " + std::to_string(step))) break;
      // Errors alone are the full check's errors, in its order.
      DocumentCheckOptions errorsOnly = options;
      errorsOnly.errorsOnly = true;
      std::vector<Shown> errors, only;
      for (const DocumentFinding& f : CheckDocument(s, options))
        if (!f.warning) errors.push_back(ShownOf(f));
      for (const DocumentFinding& f : CheckDocument(s, errorsOnly)) only.push_back(ShownOf(f));
      ASSERT_EQ(only, errors) << "round " << round << ", step " << step;
    }
    fresh += e.fresh;
  }
  EXPECT_GT(fresh, 100) << "the edits made findings to compare";
}

// The shapes plants have: many containers holding the same texts, as
// programs under targets, as sub-containers of a global tree and of plain
// top-level containers, entered unchecked so that every kind of finding
// is already there; then edits of every kind, the first one judged before
// the check has indexed the whole document.
TEST_F(ServerTest, AnEditCheckStaysExactWhereManyContainersHoldTheSameTexts) {
  DocumentCheckOptions options;
  int fresh = 0;
  for (int round = 0; round < 24; ++round) {
    CNameServer s;
    EditCheck check(s, options);
    Editor e{s, check, options, std::mt19937(7 + round), {}, 0};
    const std::int16_t tops[] = {kGlobalContainer, kTargetContainer, kTargetContainer, kOrdinaryContainer};
    for (std::int16_t top : tops) {
      const std::uint32_t t = s.AddContainer(0, top);
      e.containers.push_back(t);
      for (int sub = 0; sub < 8; ++sub) {
        const std::uint32_t c = s.AddContainer(sub % 3 == 0 ? t : e.containers.back(), kTypes[e.Pick(4)]);
        e.containers.push_back(c);
        for (int n = 0; n < 5; ++n) {
          std::uint32_t id = 0;
          s.AddName(id, e.Pick(4) == 0 ? t : c, e.Text(), kAllowLeadingUnderscore, false);
        }
      }
    }
    for (int step = 0; step < 40; ++step)
      if (!e.Step(1 + e.Pick(9), "round " + std::to_string(round) + ", step " + std::to_string(step))) break;
    fresh += e.fresh;
  }
  EXPECT_GT(fresh, 200) << "the edits made findings to compare";
}

}  // namespace
}  // namespace nametree::test
