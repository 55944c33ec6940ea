// The name rule, cleaning of text into name characters, and keywords.
#include "server_fixture.h"

namespace nametree::test {
namespace {

struct RuleCase {
  CString text;
  std::uint32_t kind;
  bool valid;
};

TEST(NameRule, AnswersForEachKindOfCharacter) {
  const RuleCase cases[] = {
      {u"Motor1", 0, true},       {u"1Motor", 0, false},     {u"Motor_1", 0, true},   {u"Mo tor", 0, false},
      {u"Mo-tor", 0, false},      {u"Motor.", 0, false},     {u"_Motor", 0, false},   {u"_Motor", 1, true},
      {u"_", 1, true},            {u"__", 1, true},          {u"_", 7, false},        {u"1Motor", 1, false},
      {CString(32, u'a'), 0, true}, {CString(33, u'a'), 0, false}, {u"", 1, false},  {u"Δέλτα2", 0, true},
      {u"泵站_3", 0, true},       {u"\U00020000x", 0, true},  // an ideograph outside the basic plane
      {u"\u0661A", 0, false},     {u"A\u0661\u0662", 0, true},  // Arabic-Indic digits: digits, not letters
      {u"\u0966x", 0, false},     {u"x\u0966", 0, true},     // Devanagari digit zero
      {u"a\u0301", 0, true},      // a combining accent counts as a letter
      {u"A\u0378!", 0, true},     {u"\u0378 !", 0, true},    // the scan stops at an unassigned code point
      {CString(u"A\0B", 3), 0, false},
  };
  CNameServer server;
  for (const RuleCase& c : cases)
    EXPECT_EQ(server.IsValidName(c.text, c.kind), c.valid) << "case " << (&c - cases);
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
