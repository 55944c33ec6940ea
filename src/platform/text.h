// Locale services for names: case mapping and character classification of
// UTF-16 text, answered by ICU so that every script is covered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "nametree/types.h"

namespace nametree {

// Class-word flags, with the values of the CT_CTYPE1 classification.
inline constexpr std::uint16_t C1_UPPER = 0x0001;
inline constexpr std::uint16_t C1_LOWER = 0x0002;
inline constexpr std::uint16_t C1_DIGIT = 0x0004;
inline constexpr std::uint16_t C1_SPACE = 0x0008;
inline constexpr std::uint16_t C1_PUNCT = 0x0010;
inline constexpr std::uint16_t C1_CNTRL = 0x0020;
inline constexpr std::uint16_t C1_BLANK = 0x0040;
inline constexpr std::uint16_t C1_XDIGIT = 0x0080;
inline constexpr std::uint16_t C1_ALPHA = 0x0100;
inline constexpr std::uint16_t C1_DEFINED = 0x0200;

// The class word of one code point. 0 for an unassigned code point.
//
// Letters (C1_ALPHA) are the letter categories plus the combining marks, so
// that a decomposed accented letter is as good a letter as its precomposed
// form. Digits (C1_DIGIT) are decimal digits of any script. Code points
// outside the basic plane are classified as a whole: both units of a
// surrogate pair get the class word of the pair's code point. An unpaired
// surrogate gets C1_DEFINED alone: assigned, but neither letter nor digit.
std::uint16_t ClassifyCodePoint(char32_t cp);

// Whether a code point changes how the text around it shows or shows as
// nothing: bidi controls, default-ignorable code points (joiners, variation
// selectors, fillers, tags) and the line and paragraph separators. Names may
// hold them; tools show them escaped and the document check warns of them.
bool IsHiddenCodePoint(char32_t cp);

// One class word per code unit of `text`, in `classes` (resized to fit).
void ClassifyText(const CString& text, std::vector<std::uint16_t>& classes);
// The same into `classes`, which holds at least text.size() words.
void ClassifyText(std::u16string_view text, std::uint16_t* classes);

// Upper-cases a copy with the simple, length-preserving Unicode mapping,
// code point by code point (an unpaired surrogate stays as it is).
CString ToUpper(std::u16string_view text);
void MakeUpper(CString& text);
void MakeUpper(char16_t* units, std::size_t count);

// Compares after upper-casing both sides: <0, 0, >0.
int CompareNoCase(const CString& a, const CString& b);

// Compares ignoring the case of the ASCII letters A to Z only.
bool EqualsAsciiNoCase(const CString& a, const CString& b);

}  // namespace nametree
