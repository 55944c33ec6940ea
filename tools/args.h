// The program's command line parser: one CLI11 subcommand per entry of the
// command table, whose words each command binds into its own struct.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "nametree/types.h"
#include "output.h"

namespace nametree::cli {

// One subcommand of a CLI11 app built from a table entry, and the words of
// its last parse.
class ParsedCommand {
 public:
  ParsedCommand(CLI::App& parent, const CommandSpec& entry);
  const CommandSpec& Entry() const { return entry_; }
  CLI::App* App() const { return app_; }
  // The words of each entry: positionals, then options, in table order.
  std::vector<Words> Collected() const;
  // Whether --json was given, which decides how even a usage error is told.
  bool WantsJson() const;

 private:
  const CommandSpec& entry_;
  CLI::App* app_;
  std::vector<CLI::Option*> positionals_;
  std::vector<std::pair<std::string, CLI::Option*>> options_;
};

// The program's parser: its own options and one subcommand per entry of
// `table`, which must outlive it.
struct ProgramParser {
  explicit ProgramParser(const std::vector<CommandSpec>& table);
  CLI::App app;
  bool version = false;
  std::vector<std::unique_ptr<ParsedCommand>> commands;
};

// Runs the program: parses argv, dispatches, and checks that stdout was
// written. Returns the exit code.
int RunProgram(int argc, char** argv);

// Strict conversions of what the user typed; nullopt when the text is not one.
std::optional<std::uint32_t> ParseUnsigned(std::string_view text);
std::optional<std::int64_t> ParseSigned(std::string_view text);
// A UTF-8 argument as UTF-16; nullopt when it is not well-formed UTF-8.
std::optional<CString> ParseUtf8(std::string_view text);

}  // namespace nametree::cli
