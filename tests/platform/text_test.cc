// Name text as the legacy importer and hosts meet it: ASCII-only matching
// of reserved names and UTF-8 conversion. (Upper-casing and character
// classes are seen through name lookups and the name rule.)
#include <gtest/gtest.h>

#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree {
namespace {

TEST(Text, AsciiOnlyComparisonLeavesOtherLettersAlone) {
  EXPECT_TRUE(EqualsAsciiNoCase(u"DEVICES", u"devices"));
  EXPECT_FALSE(EqualsAsciiNoCase(u"\u00e9", u"\u00c9"));
  EXPECT_FALSE(EqualsAsciiNoCase(u"Device", u"Devices"));
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
