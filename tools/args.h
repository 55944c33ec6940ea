// The program's command line parser, and Args: a subcommand's words by
// option name, as commands read them before each bound its own struct.
// Nothing builds an Args any more; it stays while keywords.cc and
// document.cc still take one.
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

class Args {
 public:
  Args() = default;
  Args(std::string command, std::vector<std::string> positional,
       std::map<std::string, std::vector<std::string>, std::less<>> options, Reporter* reporter = nullptr)
      : command_(std::move(command)), positional_(std::move(positional)), options_(std::move(options)),
        reporter_(reporter) {}

  std::string_view Command() const { return command_; }
  std::size_t Count() const { return positional_.size(); }
  const std::string& At(std::size_t i) const { return positional_[i]; }
  bool Has(std::string_view option) const { return options_.count(option) != 0; }
  // The option's last value, or null when it was not given.
  const std::string* Value(std::string_view option) const;
  // Every value of a repeatable option, in the order given.
  std::vector<std::string> Values(std::string_view option) const;
  // The same arguments without the first positional word (the document).
  Args WithoutFirst() const;

  // Where this run's errors go; a plain one on stderr when none was given.
  Reporter& Report() const;
  // Prints "nametree CMD: message" and a pointer to the help (or, under
  // --json, an error object); returns 2.
  int UsageError(const std::string& message) const { return Report().Usage(command_, message); }

 private:
  std::string command_;
  std::vector<std::string> positional_;
  std::map<std::string, std::vector<std::string>, std::less<>> options_;
  Reporter* reporter_ = nullptr;
};

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
