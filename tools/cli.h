// Shared vocabulary of the nametree program: exit codes and the table of
// subcommands that main() builds its command line from.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/identifier_profile.h"

namespace nametree::cli {

// Exit codes: success, an edit or name the library refused (or findings),
// and a usage or file error (bad arguments, unreadable or damaged document,
// output that cannot be written); a signal that ends a run adds its number
// to kExitSignalBase.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitError = 2;
inline constexpr int kExitSignalBase = 128;

struct ExitCodeSpec {
  std::string code;          // as the help shows it
  std::string_view summary;  // a few words for the global help
  std::string details;       // a sentence for the manual page
};
// Every exit status of the program, in the order the help lists them.
std::vector<ExitCodeSpec> ExitCodes();

// The words a value may be, for completion; null when any text goes.
using Choices = std::vector<std::string> (*)();

class Context;

// The words given for one table entry: a flag given is one empty word, an
// entry not given has none.
using Words = std::vector<std::string>;

struct PositionalSpec {
  std::string_view name;  // upper case, as the usage line shows it
  std::string_view help;
  bool required = true;
  bool many = false;  // takes every word left (the last positional only)
  Choices choices = nullptr;
};

struct OptionSpec {
  std::string_view name;   // without the leading "--"
  std::string_view value;  // what the value is ("N", "FILE"); empty for a flag
  std::string_view help;
  bool repeatable = false;
  Choices choices = nullptr;
};

struct CommandSpec {
  std::string_view name;
  std::string_view summary;  // one line for the global help
  std::string_view details;  // prose after the options in the command's help
  std::vector<PositionalSpec> positionals;
  std::vector<OptionSpec> options;
  // Binds the words of each entry (positionals, then options) and acts.
  std::function<int(const std::vector<Words>& words, const Context& context)> act = nullptr;
};

// Each file of subcommands contributes its entries.
void AddDocumentCommands(std::vector<CommandSpec>& table);
void AddEditCommands(std::vector<CommandSpec>& table);
void AddBatchCommand(std::vector<CommandSpec>& table);
void AddNameCommands(std::vector<CommandSpec>& table);
void AddLookupCommands(std::vector<CommandSpec>& table);
void AddLintCommands(std::vector<CommandSpec>& table);
void AddDemoCommand(std::vector<CommandSpec>& table);
void AddPlcopenCommands(std::vector<CommandSpec>& table);
void AddNavigateCommands(std::vector<CommandSpec>& table);
void AddLabelCommand(std::vector<CommandSpec>& table);
void AddKeywordCommand(std::vector<CommandSpec>& table);
void AddExportCommands(std::vector<CommandSpec>& table);
void AddHelpCommand(std::vector<CommandSpec>& table);

// 'lint' of a PLCopen XML file (a PROJECT.xml argument) instead of a document.
bool IsPlcopenArgument(const std::string& path);
// --profile NAME: the name rule names are judged by.
extern const OptionSpec kProfileOption;

// --kind and --confine: one meaning in every command that takes them.
extern const OptionSpec kKindOption;
extern const OptionSpec kConfineOption;
// The options of every command that writes a document: how long to wait for
// another writer, and whether to save over entries that could not be read.
extern const OptionSpec kWaitOption;
extern const OptionSpec kForceOption;
extern const OptionSpec kDryRunOption;
extern const OptionSpec kNoEditCheckOption;
// --keyword-set NAME: a built-in set of reserved words, for the commands
// that take --keywords.
extern const OptionSpec kKeywordSetOption;

// The whole table, in the order the global help lists it.
std::vector<CommandSpec> AllCommands();
// The names of its commands, in that order.
std::vector<std::string> CommandNames();

}  // namespace nametree::cli
