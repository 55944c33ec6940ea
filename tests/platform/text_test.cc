// Name text as the legacy importer and hosts meet it: ASCII-only matching
// of reserved names, upper-casing and UTF-8 conversion. (Character classes
// are seen through the name rule.)
#include <gtest/gtest.h>

#include "nametree/utf8.h"
#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <vector>

namespace nametree {
namespace {

TEST(Text, AsciiOnlyComparisonLeavesOtherLettersAlone) {
  EXPECT_TRUE(EqualsAsciiNoCase(u"DEVICES", u"devices"));
  EXPECT_FALSE(EqualsAsciiNoCase(u"\u00e9", u"\u00c9"));
  EXPECT_FALSE(EqualsAsciiNoCase(u"Device", u"Devices"));
}

// Every ASCII unit, and letters beyond, at every place of texts of every
// short length, upper-cased as ICU's simple mapping does unit by unit.
TEST(Text, UpperCasingTakesEveryUnitAtEveryPlace) {
  std::vector<CString> units;
  for (char16_t c = 0; c < 0x80; ++c) units.push_back(CString(1, c));
  for (const char16_t* other : {u"\u00e9", u"\u00df", u"\u00ff", u"\u0434", u"\U00010428"}) units.push_back(other);
  const auto expected = [](const CString& text) {
    CString out;
    for (std::size_t i = 0; i < text.size();) {
      UChar32 cp;
      U16_NEXT(text.data(), i, text.size(), cp);
      const UChar32 up = u_toupper(cp);
      if (U16_LENGTH(up) == U16_LENGTH(cp)) cp = up;
      out.append(cp > 0xFFFF ? CString{U16_LEAD(cp), U16_TRAIL(cp)} : CString(1, static_cast<char16_t>(cp)));
    }
    return out;
  };
  for (std::size_t length = 1; length <= 9; ++length)
    for (std::size_t at = 0; at < length; ++at)
      for (const CString& unit : units) {
        CString text(length, at % 2 ? u'z' : u'A');
        text.replace(at, 1, unit);
        ASSERT_EQ(ToUpper(text), expected(text)) << "length " << length << ", at " << at << ", unit " << int(unit[0]);
      }
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
