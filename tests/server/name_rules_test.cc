// The name rule, cleaning of text into name characters, and keywords.
#include "server_fixture.h"

namespace nametree::test {
namespace {

using Rule = CNameRuleViolation::Rule;

struct RuleCase {
  CString text;
  std::uint32_t kind;
  Rule broken;
  int at = -1;  // the offending code unit, when a rule is broken
};

TEST(NameRule, AnswersForEachKindOfCharacterAndSaysWhere) {
  const RuleCase cases[] = {
      {u"Motor1", 0, Rule::kNone},
      {u"1Motor", 0, Rule::kFirstCharacter, 0},
      {u"Motor_1", 0, Rule::kNone},
      {u"Mo tor", 0, Rule::kCharacter, 2},
      {u"Mo-tor", 0, Rule::kCharacter, 2},
      {u"Motor.", 0, Rule::kCharacter, 5},
      {u"_Motor", 0, Rule::kFirstCharacter, 0},
      {u"_Motor", 1, Rule::kNone},
      {u"_", 1, Rule::kNone},
      {u"__", 1, Rule::kNone},
      {u"_", 7, Rule::kFirstCharacter, 0},
      {u"1Motor", 1, Rule::kFirstCharacter, 0},
      {CString(32, u'a'), 0, Rule::kNone},
      {CString(32, u'a') + u"!", 0, Rule::kTooLong, 32},
      {u"", 1, Rule::kEmpty, 0},
      {u"Δέλτα2", 0, Rule::kNone},
      {u"泵站_3", 0, Rule::kNone},
      {u"\U00020000x", 0, Rule::kNone},  // an ideograph outside the basic plane
      {u"\u0661A", 0, Rule::kFirstCharacter, 0},  // Arabic-Indic digits: digits, not letters
      {u"A\u0661\u0662", 0, Rule::kNone},
      {u"\u0966x", 0, Rule::kFirstCharacter, 0},  // Devanagari digit zero
      {u"x\u0966", 0, Rule::kNone},
      {u"a\u0301", 0, Rule::kNone},  // a combining accent counts as a letter
      {u"A\u0378!", 0, Rule::kNone},  // the scan stops at an unassigned code point
      {u"\u0378 !", 0, Rule::kNone},
      {CString(u"A\0B", 3), 0, Rule::kCharacter, 1},
  };
  CNameServer server;
  for (const RuleCase& c : cases) {
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

TEST_F(ServerTest, KeywordsAreCaseInsensitiveAndCountAsDuplicates) {
  EXPECT_FALSE(server.IsKeyword(u"begin"));
  EXPECT_EQ((Results{server.AddKeyword(u"begin"), server.AddKeyword(u"BEGIN"), server.AddKeyword(u"αβγ")}),
            (Results{S_OK, S_FALSE, S_OK}));
  EXPECT_TRUE(server.IsKeyword(u"Begin") && server.IsKeyword(u"ΑΒΓ") && !server.IsKeyword(u"Begin1"));
  EXPECT_TRUE(server.IsValidName(u"Begin", 0));
  std::uint32_t id = 0;
  EXPECT_EQ(server.AddName(id, server.AddContainer(0, 0), u"Begin", 0, true), E_NAME_DUPLICATE);
}

}  // namespace
}  // namespace nametree::test
