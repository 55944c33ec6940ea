// The naming conventions of PLC projects, N1 to N10, judged on what an
// import found (nametree/plcopen_import.h). One table holds each rule's ID,
// whether it is on until a config says otherwise, its severity and how to
// fix what it finds; every face reads the table, none restates it.
//
// N3 (keywords and the user's words), N8 (the IEC character set) and N9
// (one name for different kinds of element where their scopes meet) are the
// import's own refusals, given a rule by RuleOfRefusal; the others are
// judged here, on the elements alone, in linear time: each rule looks at
// each element once, N5 through one hash set of the global names.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/document_check.h"
#include "nametree/plcopen_import.h"

namespace nametree::plcopen {

enum class Severity { kNote, kWarning, kError };
// "note", "warning", "error": the order is the rank --fail-on compares.
std::string_view SeverityName(Severity severity);
std::optional<Severity> SeverityNamed(std::string_view name);

enum class Rule { kN1, kN2, kN3, kN4, kN5, kN6, kN7, kN8, kN9, kN10 };
inline constexpr std::size_t kRuleCount = 10;

struct RuleInfo {
  Rule rule;
  std::string_view id;     // "N1" ... "N10", stable
  std::string_view title;  // what it asks, one line
  bool onByDefault;
  Severity severity;       // by default
  std::string_view fix;    // how to fix a finding, a sentence
};
std::span<const RuleInfo> Rules();
const RuleInfo& InfoOf(Rule rule);
std::optional<Rule> RuleNamed(std::string_view id);

enum class CaseStyle { kAny, kPascal, kCamel, kUpper, kLower };
// "any", "PascalCase", "camelCase", "UPPER_CASE", "lower_case".
std::string_view CaseStyleName(CaseStyle style);
std::optional<CaseStyle> CaseStyleNamed(std::string_view name);

// The names of the element kinds and scopes as a config keys them:
// "dataType", "pou", "variable", "member", ...; "project", "dataType",
// "program", "functionBlock", "function", "method", "configuration",
// "resource", "globalList".
std::string_view ElementKindName(ElementKind kind);
std::string_view ScopeName(Scope scope);
std::span<const std::string_view> ElementKindNames();
std::span<const std::string_view> ScopeNames();
// The base kinds of data types N10 keys: "struct", "enum", "union",
// "array", "subrange", "alias".
std::span<const std::string_view> TypeKindNames();

struct RuleSettings {
  bool enabled = false;
  Severity severity = Severity::kWarning;
};

struct NamingConfig {
  RuleSettings rules[kRuleCount];
  std::string edition = "iec61131-3-ed3";   // the keyword set
  std::vector<std::string> keywords;        // N3: words to avoid besides the edition's
  std::map<std::string, std::string> typePrefixes;     // N2: variable type (upper case) -> prefix
  std::map<std::string, CaseStyle> caseStyles;         // N4: element kind -> style
  std::size_t minLength = 1, maxLength = kMaxNameLength;  // N6
  std::map<std::string, std::string> scopePrefixes;    // N7: scope -> prefix of the names declared in it
  std::map<std::string, std::string> typeKindPrefixes; // N10: data type kind -> prefix
  // N7 and N10 by pattern as well: * any run, ? one character, [A-Z] or
  // [abc] one of a set; anything else itself, letter case as written.
  std::map<std::string, std::string> scopePatterns, typeKindPatterns;

  const RuleSettings& operator[](Rule r) const { return rules[static_cast<std::size_t>(r)]; }
  RuleSettings& operator[](Rule r) { return rules[static_cast<std::size_t>(r)]; }
};
// Every rule as the table says, no options.
NamingConfig DefaultNamingConfig();

struct RuleFinding {
  Rule rule = Rule::kN1;
  Severity severity = Severity::kWarning;
  std::string message;  // what is wrong and how to fix it
  std::size_t element = 0;                // in ImportReport::elements
  std::vector<std::size_t> related;       // the other elements involved
};

// The findings of the enabled rules judged here (N1, N2, N4, N5, N6, N7,
// N10), element by element in document order.
// Whether NamingConfig's pattern is a NameGlob with bracketed sets, its
// letter case kept, as N7 and N10 match it: every '[' closed, no set empty.
bool IsNamePattern(std::string_view pattern);

std::vector<RuleFinding> CheckNamingRules(const ImportReport& report, const NamingConfig& config);

// The rule an import refusal breaks: N8 for the character set, N3 for a
// keyword, N9 for a collision with an element of another kind; none for the
// rest (the same kind twice in one scope, the limits), which are errors of
// IEC 61131-3 whatever the conventions.
std::optional<Rule> RuleOfRefusal(const ImportReport& report, const Refusal& refusal);

// True for a document finding that IEC 61131-3 scoping does not make: a
// member of a type meeting a name outside its type, which the check of the
// imported document judges as it judges any plain container.
bool OutsideItsScope(const ImportReport& report, const DocumentFinding& finding);

}  // namespace nametree::plcopen
