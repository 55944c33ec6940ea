// The project's naming conventions as a TOML file: which rules are on, their
// severities and options, the keyword edition and extra words to avoid.
//
//   edition = "iec61131-3-ed3"        # or "iec61131-3-ed2"
//   keywords = ["Motor"]              # N3: words to avoid besides the edition's
//   [rules.N2]
//   enabled = true
//   severity = "error"                # note, warning, error
//   prefixes = { BOOL = "x", INT = "i" }
//   [rules.N4] styles = { pou = "PascalCase" }
//   [rules.N6] min = 3, max = 24
//   [rules.N7] prefixes = { globalList = "g" }, patterns = { resource = "[A-Z]*" }
//   [rules.N10] prefixes = { struct = "ST_", functionBlock = "FB_" }, patterns = { enum = "E_*" }
//
// Every key is known or the file is refused with the key and its line: a
// misspelt option must not pass as a rule that is silently off.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "nametree/plcopen_rules.h"

namespace nametree::plcopen {

inline constexpr std::string_view kConfigFileName = ".nametree.toml";

struct ConfigError {
  std::size_t line = 0;  // 0 when the file as a whole is at fault
  std::string key;       // dotted, as rules.N2.prefixes.BOOL; empty when none
  std::string message;
};

// Reads the settings of `text` over *config; on an error *config is left
// as it was. `source` names the text in the parser's messages.
std::optional<ConfigError> ParseNamingConfig(std::string_view text, NamingConfig* config);
std::optional<ConfigError> ReadNamingConfig(const std::string& path, NamingConfig* config);

// The config file that applies to a checked file or directory: kConfigFileName
// in its directory or the nearest one above; empty when there is none.
std::string FindNamingConfig(const std::string& checked);

// The whole config as TOML that ParseNamingConfig reads back, defaults included.
std::string NamingConfigToml(const NamingConfig& config);

}  // namespace nametree::plcopen
