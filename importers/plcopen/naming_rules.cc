#include "nametree/plcopen_rules.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "nametree/name_glob.h"
#include "nametree/utf8.h"

namespace nametree::plcopen {

namespace {

using enum Severity;

constexpr RuleInfo kRules[kRuleCount] = {
    {Rule::kN1, "N1", "a located variable (AT %I, %Q, %M) belongs in a configuration, resource or global list",
     false, kWarning,
     "declare it with its address in a global list and reach it through VAR_EXTERNAL"},
    {Rule::kN2, "N2", "a variable's name starts with the prefix of its type", false, kWarning,
     "rename it with the prefix that the type prefix map gives its type"},
    {Rule::kN3, "N3", "names to avoid: the keywords of the edition and the project's own list", true, kError,
     "rename it; a keyword cannot name anything"},
    {Rule::kN4, "N4", "each kind of element is written in its case style", false, kWarning,
     "rename it in the case style configured for its kind"},
    {Rule::kN5, "N5", "a local variable does not shadow a global one", true, kWarning,
     "rename the local, or declare it VAR_EXTERNAL if the global was meant"},
    {Rule::kN6, "N6", "a name is neither shorter nor longer than the configured lengths", false, kWarning,
     "rename it within the configured lengths"},
    {Rule::kN7, "N7", "names declared in a namespace carry that namespace's prefix", false, kWarning,
     "rename it with the prefix configured for the namespace it is declared in"},
    {Rule::kN8, "N8", "a name uses the IEC 61131-3 character set", true, kError,
     "rename it with ASCII letters, digits and single underscores, not ending in one"},
    {Rule::kN9, "N9", "different kinds of element do not share one name", true, kError,
     "rename one of them; their scopes meet, so one hides the other"},
    {Rule::kN10, "N10", "a user-defined type or POU carries the prefix of its kind", false, kWarning,
     "rename it with the prefix configured for its kind"},
};

constexpr std::string_view kSeverities[] = {"note", "warning", "error"};
constexpr std::string_view kStyles[] = {"any", "PascalCase", "camelCase", "UPPER_CASE", "lower_case"};
constexpr std::string_view kKinds[] = {"dataType", "pou",    "variable",   "member",     "configuration",
                                       "resource", "task",   "pouInstance", "action",    "transition"};
constexpr std::string_view kScopes[] = {"project", "dataType",      "program",  "functionBlock", "function",
                                        "method",  "configuration", "resource", "globalList"};
constexpr std::string_view kTypeKinds[] = {"struct",  "enum",    "union",         "array",   "subrange",
                                           "alias",   "program", "functionBlock", "function"};

template <std::size_t N>
std::optional<std::size_t> IndexOf(const std::string_view (&names)[N], std::string_view name) {
  const auto it = std::find(std::begin(names), std::end(names), name);
  return it == std::end(names) ? std::nullopt : std::optional<std::size_t>(it - std::begin(names));
}

bool Upper(char16_t c) { return c >= u'A' && c <= u'Z'; }
bool Lower(char16_t c) { return c >= u'a' && c <= u'z'; }
bool Digit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool InStyle(std::u16string_view text, CaseStyle style) {
  if (text.empty()) return true;
  auto all = [&](auto ok) { return std::all_of(text.begin(), text.end(), ok); };
  switch (style) {
    case CaseStyle::kAny: return true;
    // mutate: plcopen-n4-camel-is-pascal
    case CaseStyle::kPascal: return Upper(text[0]) && all([](char16_t c) { return Upper(c) || Lower(c) || Digit(c); });
    case CaseStyle::kCamel: return Lower(text[0]) && all([](char16_t c) { return Upper(c) || Lower(c) || Digit(c); });
    case CaseStyle::kUpper: return !Digit(text[0]) && all([](char16_t c) { return Upper(c) || Digit(c) || c == u'_'; });
    case CaseStyle::kLower: return !Digit(text[0]) && all([](char16_t c) { return Lower(c) || Digit(c) || c == u'_'; });
  }
  return true;
}

std::u16string Key(std::u16string_view text) {
  std::u16string key(text);
  for (char16_t& c : key) c = Lower(c) ? static_cast<char16_t>(c - 0x20) : c;
  return key;
}

bool StartsWith(std::u16string_view text, const std::string& prefix) {
  return text.starts_with(FromUtf8(prefix));
}

const std::string* Lookup(const std::map<std::string, std::string>& map, std::string_view key) {
  const auto it = map.find(std::string(key));
  return it == map.end() || it->second.empty() ? nullptr : &it->second;
}

std::string Quoted(const Element& e) { return "\"" + e.name + "\""; }

bool IsLocalScope(Scope s) {
  return s == Scope::kProgram || s == Scope::kFunctionBlock || s == Scope::kFunction || s == Scope::kMethod;
}
bool IsGlobalScope(Scope s) {
  return s == Scope::kConfiguration || s == Scope::kResource || s == Scope::kGlobalList;
}

class Judge {
 public:
  Judge(const ImportReport& report, const NamingConfig& config) : report_(report), config_(config) {}

  std::vector<RuleFinding> Run() {
    if (config_[Rule::kN5].enabled)
      for (std::size_t i = 0; i < report_.elements.size(); ++i)
        if (IsGlobalVariable(report_.elements[i])) globals_.emplace(Key(report_.elements[i].text), i);
    for (std::size_t i = 0; i < report_.elements.size(); ++i) Judge1(i);
    return std::move(out_);
  }

 private:
  static bool IsGlobalVariable(const Element& e) {
    return e.kind == ElementKind::kVariable && IsGlobalScope(e.scope) && e.subKind == "globalVars";
  }

  void Add(Rule rule, std::size_t element, std::string what, std::vector<std::size_t> related = {}) {
    if (!config_[rule].enabled) return;
    // mutate: plcopen-rule-severity-fixed
    out_.push_back({rule, config_[rule].severity, what + ": " + std::string(InfoOf(rule).fix), element,
                    std::move(related)});
  }

  void Judge1(std::size_t i) {
    const Element& e = report_.elements[i];
    const std::string_view kind = ElementKindName(e.kind);
    // mutate: plcopen-n1-blind
    if (e.kind == ElementKind::kVariable && e.located && !IsGlobalScope(e.scope))
      Add(Rule::kN1, i, Quoted(e) + " is located in a " + std::string(ScopeName(e.scope)));
    if (e.kind == ElementKind::kVariable)
      // mutate: plcopen-n2-any-prefix
      if (const std::string* prefix = Lookup(config_.typePrefixes, e.type); prefix && !StartsWith(e.text, *prefix))
        Add(Rule::kN2, i, Quoted(e) + " is of type " + e.type + " but does not start with \"" + *prefix + "\"");
    if (auto style = config_.caseStyles.find(std::string(kind));
        style != config_.caseStyles.end() && !InStyle(e.text, style->second))
      Add(Rule::kN4, i, Quoted(e) + " (" + std::string(kind) + ") is not " +
                            std::string(CaseStyleName(style->second)));
    // mutate: plcopen-n5-external-shadows
    if (e.kind == ElementKind::kVariable && IsLocalScope(e.scope) && e.subKind != "externalVars")
      if (auto global = globals_.find(Key(e.text)); global != globals_.end())
        Add(Rule::kN5, i, Quoted(e) + " shadows the global variable " + Quoted(report_.elements[global->second]),
            {global->second});
    // mutate: plcopen-n6-min-inclusive
    if (e.length < config_.minLength || e.length > config_.maxLength)
      Add(Rule::kN6, i, Quoted(e) + " has " + std::to_string(e.length) + " characters, outside " +
                            std::to_string(config_.minLength) + " to " + std::to_string(config_.maxLength));
    if (const std::string* pattern = Lookup(config_.scopePatterns, ScopeName(e.scope));
        pattern && e.kind != ElementKind::kMember && !Matches(e.text, *pattern))
      Add(Rule::kN7, i, Quoted(e) + " is declared in a " + std::string(ScopeName(e.scope)) +
                            " but does not match \"" + *pattern + "\"");
    if (e.kind == ElementKind::kDataType || e.kind == ElementKind::kPou)
      if (const std::string* pattern = Lookup(config_.typeKindPatterns, e.subKind);
          pattern && !Matches(e.text, *pattern))
        Add(Rule::kN10, i, Quoted(e) + " is a " + e.subKind + " but does not match \"" + *pattern + "\"");
    // mutate: plcopen-n7-declaring-scope
    if (const std::string* prefix = Lookup(config_.scopePrefixes, ScopeName(e.scope));
        prefix && e.kind != ElementKind::kMember && !StartsWith(e.text, *prefix))
      Add(Rule::kN7, i, Quoted(e) + " is declared in a " + std::string(ScopeName(e.scope)) +
                            " but does not start with \"" + *prefix + "\"");
    // mutate: plcopen-n10-pous-unjudged
    if (e.kind == ElementKind::kDataType || e.kind == ElementKind::kPou)
      if (const std::string* prefix = Lookup(config_.typeKindPrefixes, e.subKind);
          prefix && !StartsWith(e.text, *prefix))
        Add(Rule::kN10, i, Quoted(e) + " is a " + e.subKind + " but does not start with \"" + *prefix + "\"");
  }

  // The config's patterns are checked when it is read; each is made once.
  bool Matches(std::u16string_view text, const std::string& pattern) {
    auto it = globs_.find(pattern);
    if (it == globs_.end())
      it = globs_.emplace(pattern, NameGlob::Make(FromUtf8(pattern), NameGlob::Case::kKept, NameGlob::Sets::kBracketed))
               .first;
    return it->second && it->second->Matches(text);
  }

  const ImportReport& report_;
  const NamingConfig& config_;
  std::unordered_map<std::string, std::optional<NameGlob>> globs_;
  std::unordered_map<std::u16string, std::size_t> globals_;  // the first global variable of each name
  std::vector<RuleFinding> out_;
};

}  // namespace

std::string_view SeverityName(Severity severity) { return kSeverities[static_cast<std::size_t>(severity)]; }
std::optional<Severity> SeverityNamed(std::string_view name) {
  const auto i = IndexOf(kSeverities, name);
  return i ? std::optional<Severity>(static_cast<Severity>(*i)) : std::nullopt;
}

std::span<const RuleInfo> Rules() { return kRules; }
const RuleInfo& InfoOf(Rule rule) { return kRules[static_cast<std::size_t>(rule)]; }
std::optional<Rule> RuleNamed(std::string_view id) {
  for (const RuleInfo& r : kRules)
    if (r.id == id) return r.rule;
  return std::nullopt;
}

std::string_view CaseStyleName(CaseStyle style) { return kStyles[static_cast<std::size_t>(style)]; }
std::optional<CaseStyle> CaseStyleNamed(std::string_view name) {
  const auto i = IndexOf(kStyles, name);
  return i ? std::optional<CaseStyle>(static_cast<CaseStyle>(*i)) : std::nullopt;
}

std::string_view ElementKindName(ElementKind kind) { return kKinds[static_cast<std::size_t>(kind)]; }
std::string_view ScopeName(Scope scope) { return kScopes[static_cast<std::size_t>(scope)]; }
std::span<const std::string_view> ElementKindNames() { return kKinds; }
std::span<const std::string_view> ScopeNames() { return kScopes; }
std::span<const std::string_view> TypeKindNames() { return kTypeKinds; }

NamingConfig DefaultNamingConfig() {
  NamingConfig config;
  for (const RuleInfo& r : kRules) config[r.rule] = {r.onByDefault, r.severity};
  return config;
}

std::vector<RuleFinding> CheckNamingRules(const ImportReport& report, const NamingConfig& config) {
  return Judge(report, config).Run();
}

std::optional<Rule> RuleOfRefusal(const ImportReport& report, const Refusal& refusal) {
  switch (refusal.cause) {
    case RefusalCause::kRule:
    // mutate: plcopen-n8-not-a-rule
    case RefusalCause::kNul: return Rule::kN8;
    case RefusalCause::kDuplicate: {
      if (refusal.hit.where == CDuplicateHit::Where::kKeyword) return Rule::kN3;
      const Element* other = report.ElementOf(refusal.hit.nameID);
      if (other && refusal.element < report.elements.size() &&
          // mutate: plcopen-n9-same-kind
          other->kind != report.elements[refusal.element].kind)
        return Rule::kN9;
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

bool OutsideItsScope(const ImportReport& report, const DocumentFinding& finding) {
  if (finding.kind != DocumentFindingKind::kCollision && finding.kind != DocumentFindingKind::kLookAlike)
    return false;
  // mutate: plcopen-member-finding-kept
  if (finding.where == CDuplicateHit::Where::kOwnContainer) return false;
  const Element* e = report.ElementOf(finding.nameID);
  const Element* other = report.ElementOf(finding.otherNameID);
  return (e && e->kind == ElementKind::kMember) || (other && other->kind == ElementKind::kMember);
}

bool IsNamePattern(std::string_view pattern) {
  return NameGlob::Make(FromUtf8(pattern), NameGlob::Case::kKept, NameGlob::Sets::kBracketed).has_value();
}

}  // namespace nametree::plcopen
