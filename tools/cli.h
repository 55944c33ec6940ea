// Shared vocabulary of the nametree program: exit codes and the table of
// subcommands that main() dispatches on.
#pragma once

#include <string_view>
#include <vector>

namespace nametree::cli {

// Exit codes: success, an edit or name the library refused, and a usage
// or file error (bad arguments, unreadable or damaged document).
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitError = 2;

class Args;

struct OptionSpec {
  std::string_view name;  // without the leading "--"
  bool takesValue;
};

struct CommandSpec {
  std::string_view name;
  std::string_view synopsis;  // the arguments, as shown in usage lines
  std::string_view summary;   // one line for the global help
  std::string_view details;   // the per-command help after the usage line
  int minArgs;
  int maxArgs;
  std::vector<OptionSpec> options;
  int (*run)(const Args& args);
};

// Each file of subcommands contributes its entries.
void AddDocumentCommands(std::vector<CommandSpec>& table);
void AddEditCommands(std::vector<CommandSpec>& table);
void AddNameCommands(std::vector<CommandSpec>& table);
void AddDemoCommand(std::vector<CommandSpec>& table);

}  // namespace nametree::cli
