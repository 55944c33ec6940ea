// Which names are refused: the name rule, cleaning of text into name
// characters, and the namespaces a name may not repeat.
#include "server_fixture.h"

namespace nametree::test {
namespace {

using Rule = CNameRuleViolation::Rule;

TEST(NameRule, AnswersForEachKindOfCharacterAndSaysWhere) {
  const struct {
    CString text;
    std::uint32_t kind;
    Rule broken;
    int at = -1;  // the offending code unit, when a rule is broken
  } cases[] = {
      {u"Motor1", 0, Rule::kNone}, {u"1Motor", 0, Rule::kFirstCharacter, 0}, {u"Motor_1", 0, Rule::kNone},
      {u"Mo tor", 0, Rule::kCharacter, 2}, {u"Mo-tor", 0, Rule::kCharacter, 2}, {u"Motor.", 0, Rule::kCharacter, 5},
      {u"_Motor", 0, Rule::kFirstCharacter, 0}, {u"_Motor", 1, Rule::kNone}, {u"_", 1, Rule::kNone},
      {u"__", 1, Rule::kNone}, {u"_", 7, Rule::kFirstCharacter, 0}, {u"1Motor", 1, Rule::kFirstCharacter, 0},
      {CString(32, u'a'), 0, Rule::kNone}, {CString(32, u'a') + u"!", 0, Rule::kTooLong, 32},
      {u"", 1, Rule::kEmpty, 0}, {u"Δέλτα2", 0, Rule::kNone}, {u"泵站_3", 0, Rule::kNone},
      {u"\U00020000x", 0, Rule::kNone},  // an ideograph outside the basic plane
      // Arabic-Indic and Devanagari digits are digits, not letters.
      {u"\u0661A", 0, Rule::kFirstCharacter, 0}, {u"A\u0661\u0662", 0, Rule::kNone},
      {u"\u0966x", 0, Rule::kFirstCharacter, 0}, {u"x\u0966", 0, Rule::kNone},
      {u"a\u0301", 0, Rule::kNone},  // a combining accent counts as a letter
      // The scan stops at an unassigned code point.
      {u"A\u0378!", 0, Rule::kNone}, {u"\u0378 !", 0, Rule::kNone},
      // An embedded zero and an unpaired surrogate are no name characters.
      {CString(u"A\0B", 3), 0, Rule::kCharacter, 1}, {u"A\xDC00", 0, Rule::kCharacter, 1}};
  CNameServer server;
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    const CNameRuleViolation expected =
        c.broken == Rule::kNone ? CNameRuleViolation{} : CNameRuleViolation{c.broken, c.at, c.text[c.at]};
    CNameRuleViolation why{Rule::kTooLong, 99, u'?'};
    EXPECT_EQ(server.ExplainInvalidName(c.text, c.kind, &why), !server.IsValidName(c.text, c.kind));
    EXPECT_EQ(why, expected);
  }
}

TEST(NameRule, CleaningKeepsOnlyLettersAndDigits) {
  const std::pair<CString, CString> cases[] = {
      {u"Motor_1 (left)", u"Motor1left"}, {u"Motor1", u"Motor1"}, {u"", u""},
      {u"9 Δ-\u0663", u"9Δ\u0663"},  // may begin with a digit
      {CString(40, u'x') + u"!", CString(40, u'x')},  // no length limit
  };
  CNameServer server;
  for (const auto& [text, clean] : cases) EXPECT_EQ(CNameServerTestAccess::RemoveInvalidChars(server, text), clean);
}

// Top level: global G (2), target T (3), ordinary O (0), other tree X (5).
// Nested, named by parent and type: G0 G3 G4 T0 T1 T3 T4 O3 X4.
class Namespaces : public ServerTest {
 protected:
  Namespaces() {
    G = server.AddContainer(0, 2), T = server.AddContainer(0, 3);
    O = server.AddContainer(0, 0), X = server.AddContainer(0, 5);
    G0 = server.AddContainer(G, 0), G3 = server.AddContainer(G, 3), G4 = server.AddContainer(G, 4);
    T0 = server.AddContainer(T, 0), T1 = server.AddContainer(T, 1), T3 = server.AddContainer(T, 3);
    T4 = server.AddContainer(T, 4), O3 = server.AddContainer(O, 3), X4 = server.AddContainer(X, 4);
    Put(T, u"Pump"), Put(G, u"Valve"), Put(T0, u"Gear"), Put(T1, u"Shaft"), Put(T4, u"Belt");
    Put(G3, u"Fan"), Put(T3, u"Hub"), Put(X, u"Cog"), Put(G, u"Gate"), Put(T, u"Gate"), Put(G, u"Begin");
    server.AddKeyword(u"Begin");
  }

 public:  // the cases below point at these members
  std::uint32_t G, T, O, X, G0, G3, G4, T0, T1, T3, T4, O3, X4;
};

TEST_F(Namespaces, ExplanationNamesTheNamespaceAndTheHolder) {
  using W = CDuplicateHit::Where;
  const std::uint32_t pump = server.GetID(T, u"Pump"), fan = server.GetID(G3, u"Fan");
  const std::uint32_t belt = server.GetID(T4, u"Belt"), gear = server.GetID(T0, u"Gear");
  const std::uint32_t gateG = server.GetID(G, u"Gate"), gateT = gateG + 1;  // drawn next
  const struct {
    std::uint32_t container;
    const char16_t* name;
    bool confine;
    W where;
    std::uint32_t holder, id;
  } cases[] = {
      {T0, u"gear", false, W::kOwnContainer, T0, gear}, {T0, u"begin", false, W::kKeyword, 0, 0},
      {O3, u"FAN", false, W::kGlobal, G3, fan},         {G, u"Pump", false, W::kTarget, T, pump},
      {T, u"Belt", false, W::kOwnTree, T4, belt},       {T4, u"Belt", true, W::kOwnContainer, T4, belt},
      {T1, u"Fan", false, W::kGlobal, G3, fan},         {T, u"Nothing", false, W::kNone, 0, 0},
      // Where several namespaces hold a name, the first searched answers.
      {G, u"Gate", false, W::kGlobal, G, gateG},        {T, u"Gate", false, W::kOwnTree, T, gateT},
      {O, u"Gate", false, W::kGlobal, G, gateG},        {T, u"BEGIN", false, W::kKeyword, 0, 0},
  };
  for (const auto& c : cases) {
    CDuplicateHit hit{W::kOwnTree, 77, 77};
    const bool taken = server.FindDuplicate(c.container, c.name, c.confine, &hit);
    EXPECT_EQ(taken, c.where != W::kNone) << "case " << (&c - cases);
    EXPECT_EQ(taken, server.IsDuplicateName(c.container, c.name, c.confine)) << "case " << (&c - cases);
    EXPECT_EQ(hit.where, c.where) << "case " << (&c - cases);
    EXPECT_EQ(hit.containerID, c.holder) << "case " << (&c - cases);
    EXPECT_EQ(hit.nameID, c.id) << "case " << (&c - cases);
  }
}

}  // namespace
}  // namespace nametree::test
