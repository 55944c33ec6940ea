// Case mapping, classification and UTF-8 conversion of name text.
#include <gtest/gtest.h>

#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree {
namespace {

TEST(Text, UpperCasingKeepsLengthAndCoversScripts) {
  EXPECT_EQ(ToUpper(u"pump_1"), u"PUMP_1");
  EXPECT_EQ(ToUpper(u"\u00e9t\u00e9"), u"\u00c9T\u00c9");      // été
  EXPECT_EQ(ToUpper(u"stra\u00dfe"), u"STRA\u00dfE");          // ß has no one-unit upper case
  EXPECT_EQ(ToUpper(u"\U00010428x"), u"\U00010400X");          // beyond the basic plane
  const CString lone = u"a\xD800" u"b";
  EXPECT_EQ(ToUpper(lone), u"A\xD800" u"B");
  EXPECT_EQ(CompareNoCase(u"Pump", u"pUMP"), 0);
  EXPECT_NE(CompareNoCase(u"Pump", u"Pumps"), 0);
}

TEST(Text, AsciiOnlyComparisonLeavesOtherLettersAlone) {
  EXPECT_TRUE(EqualsAsciiNoCase(u"DEVICES", u"devices"));
  EXPECT_FALSE(EqualsAsciiNoCase(u"\u00e9", u"\u00c9"));
  EXPECT_FALSE(EqualsAsciiNoCase(u"Device", u"Devices"));
}

TEST(Text, ClassWordsPerCodeUnit) {
  std::vector<std::uint16_t> w;
  ClassifyText(u"a1_ -", w);
  ASSERT_EQ(w.size(), 5u);
  EXPECT_TRUE(w[0] & C1_ALPHA);
  EXPECT_TRUE(w[1] & C1_DIGIT);
  EXPECT_FALSE(w[2] & (C1_ALPHA | C1_DIGIT));
  EXPECT_TRUE(w[3] & C1_SPACE);
  EXPECT_TRUE(w[4] & C1_PUNCT);

  // Greek, CJK, a combining acute accent, Arabic-Indic digit, a supplementary ideograph.
  ClassifyText(u"\u03a9\u4e2d\u0301\u0663\U00020000", w);
  ASSERT_EQ(w.size(), 6u);
  EXPECT_TRUE(w[0] & C1_ALPHA);
  EXPECT_TRUE(w[1] & C1_ALPHA);
  EXPECT_TRUE(w[2] & C1_ALPHA);
  EXPECT_EQ(w[3] & (C1_ALPHA | C1_DIGIT), C1_DIGIT);
  EXPECT_TRUE(w[4] & C1_ALPHA);
  EXPECT_EQ(w[4], w[5]);

  // Unassigned code point: class word 0. Unpaired surrogate: assigned, no class.
  ClassifyText(u"\u0378\xDC00", w);
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(w[1], C1_DEFINED);
}

TEST(Text, Utf8RoundTripAndRepair) {
  const CString text = u"Pump \u00e9\u4e2d\U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"\u00e9"), "\xc3\xa9");
  EXPECT_EQ(FromUtf8("a\xff" "b"), u"a\uFFFD" u"b");
  EXPECT_EQ(FromUtf8("\xc0\xaf"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(FromUtf8("\xe4\xb8"), u"\uFFFD\uFFFD");  // cut short
  EXPECT_EQ(ToUtf8(CString(u"\xD800")), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace nametree
