#include "nametree/plcopen_config.h"

#include <toml++/toml.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "nametree/keyword_sets.h"

namespace nametree::plcopen {

namespace {

constexpr std::size_t kMaxConfigBytes = 1 << 20;

std::size_t LineOf(const toml::node& node) { return node.source().begin.line; }

ConfigError Error(const toml::node& node, std::string key, std::string message) {
  return {LineOf(node), std::move(key), std::move(message)};
}

// Reads a table of texts into `out`, each key among `allowed` (any key when empty).
std::optional<ConfigError> ReadTextMap(const toml::node& node, const std::string& key,
                                       std::span<const std::string_view> allowed,
                                       std::map<std::string, std::string>* out) {
  const toml::table* table = node.as_table();
  if (!table) return Error(node, key, "expected a table of texts");
  std::map<std::string, std::string> read;
  for (const auto& [k, v] : *table) {
    const std::string name(k.str());
    if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), name) == allowed.end())
      return Error(v, key + "." + name, "unknown key");
    const auto text = v.value<std::string>();
    if (!text) return Error(v, key + "." + name, "expected a text");
    read[name] = *text;
  }
  *out = std::move(read);
  return std::nullopt;
}

std::optional<ConfigError> ReadRule(const RuleInfo& info, const toml::node& node, NamingConfig* config) {
  const std::string key = "rules." + std::string(info.id);
  const toml::table* table = node.as_table();
  if (!table) return Error(node, key, "expected a table");
  for (const auto& [k, v] : *table) {
    const std::string option(k.str()), at = key + "." + option;
    if (option == "enabled") {
      const auto on = v.value<bool>();
      if (!on || !v.is_boolean()) return Error(v, at, "expected true or false");
      (*config)[info.rule].enabled = *on;
    } else if (option == "severity") {
      const auto text = v.value<std::string>();
      const auto severity = text ? SeverityNamed(*text) : std::nullopt;
      if (!severity) return Error(v, at, "expected \"note\", \"warning\" or \"error\"");
      (*config)[info.rule].severity = *severity;
    } else if (option == "prefixes" && info.rule == Rule::kN2) {
      if (auto e = ReadTextMap(v, at, {}, &config->typePrefixes)) return e;
    } else if (option == "prefixes" && info.rule == Rule::kN7) {
      if (auto e = ReadTextMap(v, at, ScopeNames(), &config->scopePrefixes)) return e;
    } else if (option == "prefixes" && info.rule == Rule::kN10) {
      if (auto e = ReadTextMap(v, at, TypeKindNames(), &config->typeKindPrefixes)) return e;
    } else if (option == "patterns" && (info.rule == Rule::kN7 || info.rule == Rule::kN10)) {
      auto& patterns = info.rule == Rule::kN7 ? config->scopePatterns : config->typeKindPatterns;
      if (auto e = ReadTextMap(v, at, info.rule == Rule::kN7 ? ScopeNames() : TypeKindNames(), &patterns)) return e;
      for (const auto& [kind, pattern] : patterns)
        // mutate: plcopen-pattern-unchecked
        if (!IsNamePattern(pattern))
          return Error(*v.as_table()->get(kind), at + "." + kind,
                       "a pattern is * (any run), ? (one character), [A-Z] or [abc] (one of a set) and plain "
                       "characters; a '[' is closed by ']'");
    } else if (option == "styles" && info.rule == Rule::kN4) {
      std::map<std::string, std::string> styles;
      if (auto e = ReadTextMap(v, at, ElementKindNames(), &styles)) return e;
      config->caseStyles.clear();
      for (const auto& [kind, style] : styles) {
        const auto named = CaseStyleNamed(style);
        if (!named) return Error(*v.as_table()->get(kind), at + "." + kind, "unknown case style \"" + style + "\"");
        config->caseStyles[kind] = *named;
      }
    } else if ((option == "min" || option == "max") && info.rule == Rule::kN6) {
      const auto n = v.value<std::int64_t>();
      if (!n || !v.is_integer() || *n < 0 || *n > 1 << 16) return Error(v, at, "expected a length from 0 to 65536");
      (option == "min" ? config->minLength : config->maxLength) = static_cast<std::size_t>(*n);
    // mutate: plcopen-config-unknown-key-passes
    } else {
      return Error(v, at, "unknown key");
    }
  }
  return std::nullopt;
}

std::optional<ConfigError> Apply(const toml::table& root, NamingConfig* config) {
  for (const auto& [k, v] : root) {
    const std::string key(k.str());
    if (key == "edition") {
      const auto text = v.value<std::string>();
      if (!text || (*text != "iec61131-3-ed2" && *text != "iec61131-3-ed3"))
        return Error(v, key, "expected \"iec61131-3-ed2\" or \"iec61131-3-ed3\"");
      config->edition = *text;
    } else if (key == "keywords") {
      const toml::array* words = v.as_array();
      if (!words) return Error(v, key, "expected an array of texts");
      config->keywords.clear();
      for (const toml::node& w : *words) {
        const auto text = w.value<std::string>();
        if (!text || !w.is_string()) return Error(w, key, "expected a text");
        config->keywords.push_back(*text);
      }
    } else if (key == "rules") {
      const toml::table* rules = v.as_table();
      if (!rules) return Error(v, key, "expected a table of rules");
      for (const auto& [id, settings] : *rules) {
        const auto rule = RuleNamed(id.str());
        if (!rule) return Error(settings, key + "." + std::string(id.str()), "unknown rule (there are N1 to N10)");
        if (auto e = ReadRule(InfoOf(*rule), settings, config)) return e;
      }
    } else {
      return Error(v, key, "unknown key");
    }
  }
  if (config->minLength > config->maxLength)
    return ConfigError{0, "rules.N6", "min is above max"};
  return std::nullopt;
}

std::string TomlText(std::string_view text) {
  std::ostringstream out;
  out << toml::value<std::string>(std::string(text));
  return out.str();
}

std::string TomlKey(std::string_view key) {
  const bool bare = !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
  return bare ? std::string(key) : TomlText(key);
}

std::string Inline(const std::map<std::string, std::string>& map) {
  std::string out = "{";
  for (const auto& [k, v] : map) out += (out.size() > 1 ? ", " : " ") + TomlKey(k) + " = " + TomlText(v);
  return out + (out.size() > 1 ? " }" : "}");
}

}  // namespace

std::optional<ConfigError> ParseNamingConfig(std::string_view text, NamingConfig* config) {
  if (text.size() > kMaxConfigBytes) return ConfigError{0, "", "larger than 1 MiB; no config is that big"};
  try {
    const toml::table root = toml::parse(text);
    NamingConfig read = *config;
    if (auto e = Apply(root, &read)) return e;
    *config = std::move(read);
    return std::nullopt;
  } catch (const toml::parse_error& e) {
    return ConfigError{e.source().begin.line, "", std::string(e.description())};
  }
}

std::optional<ConfigError> ReadNamingConfig(const std::string& path, NamingConfig* config) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return ConfigError{0, "", "not a readable file"};
  std::ifstream in(path, std::ios::binary);
  std::string text(kMaxConfigBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return ConfigError{0, "", "cannot read the file"};
  text.resize(static_cast<std::size_t>(in.gcount()));
  return ParseNamingConfig(text, config);
}

std::string FindNamingConfig(const std::string& checked) {
  std::error_code error;
  std::filesystem::path dir = std::filesystem::absolute(checked, error);
  if (error) return "";
  if (!std::filesystem::is_directory(dir, error)) dir = dir.parent_path();
  for (;;) {
    const std::filesystem::path candidate = dir / kConfigFileName;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
    if (!dir.has_parent_path() || dir.parent_path() == dir) return "";
    // mutate: plcopen-config-not-found-above
    dir = dir.parent_path();
  }
}

std::string NamingConfigToml(const NamingConfig& config) {
  std::string out = "edition = " + TomlText(config.edition) + "\nkeywords = [";
  for (std::size_t i = 0; i < config.keywords.size(); ++i) out += (i ? ", " : "") + TomlText(config.keywords[i]);
  out += "]\n";
  for (const RuleInfo& r : Rules()) {
    out += "\n[rules." + std::string(r.id) + "]  # " + std::string(r.title) + "\nenabled = " +
           (config[r.rule].enabled ? "true" : "false") + "\nseverity = \"" +
           std::string(SeverityName(config[r.rule].severity)) + "\"\n";
    // mutate: plcopen-config-print-unreadable
    if (r.rule == Rule::kN2) out += "prefixes = " + Inline(config.typePrefixes) + "\n";
    if (r.rule == Rule::kN7) out += "prefixes = " + Inline(config.scopePrefixes) + "\n";
    if (r.rule == Rule::kN10) out += "prefixes = " + Inline(config.typeKindPrefixes) + "\n";
    if (r.rule == Rule::kN7) out += "patterns = " + Inline(config.scopePatterns) + "\n";
    if (r.rule == Rule::kN10) out += "patterns = " + Inline(config.typeKindPatterns) + "\n";
    if (r.rule == Rule::kN6)
      out += "min = " + std::to_string(config.minLength) + "\nmax = " + std::to_string(config.maxLength) + "\n";
    if (r.rule == Rule::kN4) {
      std::map<std::string, std::string> styles;
      for (const auto& [k, v] : config.caseStyles) styles[k] = std::string(CaseStyleName(v));
      out += "styles = " + Inline(styles) + "\n";
    }
  }
  return out;
}

}  // namespace nametree::plcopen
