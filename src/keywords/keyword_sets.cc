#include "nametree/keyword_sets.h"

#include <algorithm>
#include <array>

namespace nametree {

namespace {

using namespace std::string_view_literals;

// Keywords first, in alphabetical order, then the elementary data types.
constexpr std::array kIec61131_3 = {
    u"ABSTRACT"sv, u"ACTION"sv, u"AND"sv, u"ANY"sv, u"ANY_BIT"sv, u"ANY_CHAR"sv, u"ANY_CHARS"sv,
    u"ANY_DATE"sv, u"ANY_DERIVED"sv, u"ANY_DURATION"sv, u"ANY_ELEMENTARY"sv, u"ANY_INT"sv,
    u"ANY_MAGNITUDE"sv, u"ANY_NUM"sv, u"ANY_REAL"sv, u"ANY_SIGNED"sv, u"ANY_STRING"sv,
    u"ANY_UNSIGNED"sv, u"ARRAY"sv, u"AT"sv, u"BY"sv, u"CASE"sv, u"CLASS"sv, u"CONFIGURATION"sv,
    u"CONSTANT"sv, u"CONTINUE"sv, u"DO"sv, u"ELSE"sv, u"ELSIF"sv, u"EN"sv, u"END_ACTION"sv,
    u"END_CASE"sv, u"END_CLASS"sv, u"END_CONFIGURATION"sv, u"END_FOR"sv, u"END_FUNCTION"sv,
    u"END_FUNCTION_BLOCK"sv, u"END_IF"sv, u"END_INTERFACE"sv, u"END_METHOD"sv, u"END_NAMESPACE"sv,
    u"END_PROGRAM"sv, u"END_REPEAT"sv, u"END_RESOURCE"sv, u"END_STEP"sv, u"END_STRUCT"sv,
    u"END_TRANSITION"sv, u"END_TYPE"sv, u"END_VAR"sv, u"END_WHILE"sv, u"ENO"sv, u"EXIT"sv,
    u"EXTENDS"sv, u"F_EDGE"sv, u"FALSE"sv, u"FINAL"sv, u"FOR"sv, u"FROM"sv, u"FUNCTION"sv,
    // mutate: plcopen-keyword-if-missing
    u"FUNCTION_BLOCK"sv, u"IF"sv, u"IMPLEMENTS"sv, u"INITIAL_STEP"sv, u"INTERFACE"sv,
    u"INTERNAL"sv, u"INTERVAL"sv, u"METHOD"sv, u"MOD"sv, u"NAMESPACE"sv, u"NON_RETAIN"sv,
    u"NOT"sv, u"NULL"sv, u"OF"sv, u"ON"sv, u"OR"sv, u"OVERLAP"sv, u"OVERRIDE"sv, u"PRIORITY"sv,
    u"PRIVATE"sv, u"PROGRAM"sv, u"PROTECTED"sv, u"PUBLIC"sv, u"R_EDGE"sv, u"READ_ONLY"sv,
    u"READ_WRITE"sv, u"REF"sv, u"REF_TO"sv, u"REPEAT"sv, u"RESOURCE"sv, u"RETAIN"sv,
    u"RETURN"sv, u"SINGLE"sv, u"STEP"sv, u"STRUCT"sv, u"SUPER"sv, u"TASK"sv, u"THEN"sv,
    u"THIS"sv, u"TO"sv, u"TRANSITION"sv, u"TRUE"sv, u"TYPE"sv, u"UNTIL"sv, u"USING"sv,
    u"VAR"sv, u"VAR_ACCESS"sv, u"VAR_CONFIG"sv, u"VAR_EXTERNAL"sv, u"VAR_GLOBAL"sv,
    u"VAR_IN_OUT"sv, u"VAR_INPUT"sv, u"VAR_OUTPUT"sv, u"VAR_TEMP"sv, u"WHILE"sv, u"WITH"sv,
    u"XOR"sv,
    // elementary data types
    u"BOOL"sv, u"SINT"sv, u"INT"sv, u"DINT"sv, u"LINT"sv, u"USINT"sv, u"UINT"sv, u"UDINT"sv,
    u"ULINT"sv, u"REAL"sv, u"LREAL"sv, u"TIME"sv, u"LTIME"sv, u"DATE"sv, u"LDATE"sv,
    u"TIME_OF_DAY"sv, u"TOD"sv, u"LTIME_OF_DAY"sv, u"LTOD"sv, u"DATE_AND_TIME"sv, u"DT"sv,
    // mutate: keywords-ed2-keeps-ldt
    u"LDATE_AND_TIME"sv, u"LDT"sv, u"STRING"sv, u"WSTRING"sv, u"CHAR"sv, u"WCHAR"sv, u"BYTE"sv,
    u"WORD"sv, u"DWORD"sv, u"LWORD"sv};

// What the third edition added: classes, interfaces, namespaces,
// references, the long date and time types and the character types. A
// library written for the second edition may use these as names.
constexpr std::array kThirdEditionOnly = {
    u"ABSTRACT"sv, u"ANY_CHAR"sv, u"ANY_CHARS"sv, u"ANY_DURATION"sv, u"ANY_SIGNED"sv, u"ANY_UNSIGNED"sv,
    u"CHAR"sv, u"CLASS"sv, u"CONTINUE"sv, u"END_CLASS"sv, u"END_INTERFACE"sv, u"END_METHOD"sv,
    u"END_NAMESPACE"sv, u"EXTENDS"sv, u"FINAL"sv, u"IMPLEMENTS"sv, u"INTERFACE"sv, u"INTERNAL"sv,
    // mutate: keywords-ed2-keeps-ldt
    u"LDATE"sv, u"LDATE_AND_TIME"sv, u"LDT"sv, u"LTIME"sv, u"LTIME_OF_DAY"sv, u"LTOD"sv, u"METHOD"sv,
    u"NAMESPACE"sv, u"NULL"sv, u"OVERLAP"sv, u"OVERRIDE"sv, u"PRIVATE"sv, u"PROTECTED"sv, u"PUBLIC"sv,
    u"REF"sv, u"REF_TO"sv, u"SUPER"sv, u"THIS"sv, u"USING"sv, u"WCHAR"sv};

constexpr bool ThirdEditionOnly(std::u16string_view word) {
  for (std::u16string_view w : kThirdEditionOnly)
    if (w == word) return true;
  return false;
}

constexpr auto SecondEdition() {
  std::array<std::u16string_view, kIec61131_3.size() - kThirdEditionOnly.size()> words{};
  std::size_t n = 0;
  for (std::u16string_view w : kIec61131_3)
    if (!ThirdEditionOnly(w)) words[n++] = w;
  return words;
}
static_assert(std::ranges::count_if(kIec61131_3, ThirdEditionOnly) == kThirdEditionOnly.size(),
              "every word the third edition added is in its set");
constexpr auto kIec61131_3Ed2 = SecondEdition();

// "iec61131-3" is the third edition's set under the name it had first.
constexpr std::array kSetNames = {"iec61131-3"sv, "iec61131-3-ed2"sv, "iec61131-3-ed3"sv};

}  // namespace

std::span<const std::u16string_view> KeywordSet(std::string_view name) {
  if (name == kSetNames[0] || name == kSetNames[2]) return kIec61131_3;
  if (name == kSetNames[1]) return kIec61131_3Ed2;
  return {};
}

bool IsThirdEditionOnlyKeyword(std::u16string_view upperCaseWord) { return ThirdEditionOnly(upperCaseWord); }

std::span<const std::string_view> KeywordSetNames() { return kSetNames; }

}  // namespace nametree
