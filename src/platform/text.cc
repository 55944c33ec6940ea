#include "platform/text.h"

#include <array>
#include <cstring>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace nametree {

namespace {

// The ASCII classes are fixed, independent of any locale data.
constexpr std::uint16_t AsciiClass(char32_t cp) {
  std::uint16_t w = C1_DEFINED;
  if (cp >= 'A' && cp <= 'Z') w |= C1_ALPHA | C1_UPPER;
  if (cp >= 'a' && cp <= 'z') w |= C1_ALPHA | C1_LOWER;
  if (cp >= '0' && cp <= '9') w |= C1_DIGIT;
  if ((cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'F') || (cp >= 'a' && cp <= 'f')) w |= C1_XDIGIT;
  if (cp == ' ' || (cp >= 0x09 && cp <= 0x0D)) w |= C1_SPACE;
  if (cp == ' ' || cp == '\t') w |= C1_BLANK;
  if (cp < 0x20 || cp == 0x7F) w |= C1_CNTRL;
  if (cp > 0x20 && cp < 0x7F && !(w & (C1_ALPHA | C1_DIGIT))) w |= C1_PUNCT;
  return w;
}

// Names are mostly ASCII, and every name is classified on every check.
constexpr auto kAsciiClasses = [] {
  std::array<std::uint16_t, 0x80> table{};
  // mutate: ascii-classes-shifted
  for (char32_t cp = 0; cp < 0x80; ++cp) table[cp] = AsciiClass(cp);
  return table;
}();

}  // namespace

std::uint16_t ClassifyCodePoint(char32_t cp) {
  if (cp < 0x80) return kAsciiClasses[cp];
  if (U_IS_SURROGATE(cp)) return C1_DEFINED;
  const auto c = static_cast<UChar32>(cp);
  const auto cat = static_cast<UCharCategory>(u_charType(c));
  if (cat == U_UNASSIGNED) return 0;
  std::uint16_t w = C1_DEFINED;
  switch (cat) {
    case U_UPPERCASE_LETTER:
    case U_TITLECASE_LETTER:
      w |= C1_ALPHA | C1_UPPER;
      break;
    case U_LOWERCASE_LETTER:
      w |= C1_ALPHA | C1_LOWER;
      break;
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
    case U_NON_SPACING_MARK:
    case U_COMBINING_SPACING_MARK:
    case U_ENCLOSING_MARK:
      w |= C1_ALPHA;
      break;
    case U_DECIMAL_DIGIT_NUMBER:
      w |= C1_DIGIT;
      break;
    case U_SPACE_SEPARATOR:
      w |= C1_SPACE | C1_BLANK;
      break;
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      w |= C1_SPACE;
      break;
    case U_CONTROL_CHAR:
      w |= C1_CNTRL;
      if (u_isspace(c)) w |= C1_SPACE;
      break;
    case U_FORMAT_CHAR:
    case U_PRIVATE_USE_CHAR:
      break;
    default:  // punctuation, symbols, letter-like numbers
      w |= C1_PUNCT;
      break;
  }
  return w;
}

void ClassifyText(const CString& text, std::vector<std::uint16_t>& classes) {
  classes.assign(text.size(), 0);
  ClassifyText(std::u16string_view(text), classes.data());
}

void ClassifyText(std::u16string_view text, std::uint16_t* classes) {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    char16_t u = text[i];
    if (u < 0x80) {
      classes[i++] = kAsciiClasses[u];
    } else if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(text[i + 1])) {
      std::uint16_t w = ClassifyCodePoint(U16_GET_SUPPLEMENTARY(u, text[i + 1]));
      classes[i] = classes[i + 1] = w;
      i += 2;
    } else {
      classes[i] = ClassifyCodePoint(u);
      ++i;
    }
  }
}

void MakeUpper(CString& text) { MakeUpper(text.data(), text.size()); }

namespace {
// Upper-cases four ASCII units at once, in the lanes of a 64-bit word;
// false, with nothing changed, when any unit is not ASCII. Each lane stays
// below 0x100 in the sums, so no carry crosses into the next.
bool UpperFourAscii(char16_t* at) {
  constexpr std::uint64_t kLanes = 0x0001000100010001u;
  std::uint64_t w;
  std::memcpy(&w, at, sizeof w);
  // mutate: upper-four-takes-latin-1
  if (w & (0xFF80u * kLanes)) return false;
  // mutate: upper-four-range-ends-early
  const std::uint64_t fromA = w + (0x80u - 'a') * kLanes, pastZ = w + (0x80u - 'z' - 1) * kLanes;
  // mutate: upper-four-skips-a-lane
  const std::uint64_t lower = fromA & ~pastZ & (0x80u * kLanes);
  w -= lower >> 2;
  std::memcpy(at, &w, sizeof w);
  return true;
}
}  // namespace

void MakeUpper(char16_t* text, std::size_t n) {
  for (std::size_t i = 0; i < n;) {
    if (i + 4 <= n && UpperFourAscii(text + i)) {
      i += 4;
      continue;
    }
    char16_t u = text[i];
    if (u < 0x80) {
      if (u >= 'a' && u <= 'z') text[i] = static_cast<char16_t>(u - 0x20);
      ++i;
    } else if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(text[i + 1])) {
      UChar32 up = u_toupper(U16_GET_SUPPLEMENTARY(u, text[i + 1]));
      // Simple mappings stay in the supplementary planes, so the length holds.
      if (up > 0xFFFF) {
        text[i] = U16_LEAD(up);
        text[i + 1] = U16_TRAIL(up);
      }
      i += 2;
    } else {
      if (!U16_IS_SURROGATE(u)) {
        UChar32 up = u_toupper(u);
        if (up <= 0xFFFF) text[i] = static_cast<char16_t>(up);
      }
      ++i;
    }
  }
}

CString ToUpper(std::u16string_view text) {
  CString copy(text);
  MakeUpper(copy);
  return copy;
}

int CompareNoCase(const CString& a, const CString& b) { return ToUpper(a).compare(ToUpper(b)); }

bool EqualsAsciiNoCase(const CString& a, const CString& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char16_t>(x - 0x20);
    if (y >= 'a' && y <= 'z') y = static_cast<char16_t>(y - 0x20);
    if (x != y) return false;
  }
  return true;
}

bool IsHiddenCodePoint(char32_t cp) {
  // mutate: hidden-fast-path-too-wide
  if (cp < 0x80) return false;  // ASCII holds none of them
  const auto c = static_cast<UChar32>(cp);
  if (u_hasBinaryProperty(c, UCHAR_BIDI_CONTROL) || u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT))
    return true;
  const int8_t type = u_charType(c);
  // mutate: hidden-misses-line-separator
  return type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

}  // namespace nametree
