// Command-line arguments of one subcommand: positional arguments and
// "--name" / "--name VALUE" / "--name=VALUE" options, checked against the
// command's table entry.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "nametree/types.h"

namespace nametree::cli {

class Args {
 public:
  // Parses argv (the words after the command name). Returns false when the
  // caller should stop with *exitCode: after --help (0) or a usage error (2).
  static bool Parse(const CommandSpec& command, const std::vector<std::string>& words, Args* out,
                    int* exitCode);

  std::string_view Command() const { return command_; }
  std::size_t Count() const { return positional_.size(); }
  const std::string& At(std::size_t i) const { return positional_[i]; }
  bool Has(std::string_view option) const { return options_.count(std::string(option)) != 0; }
  // The option's value, or null when it was not given.
  const std::string* Value(std::string_view option) const;

  // Prints "nametree CMD: message" and a pointer to the help; returns 2.
  int UsageError(const std::string& message) const;

 private:
  std::string command_;
  std::vector<std::string> positional_;
  std::map<std::string, std::string> options_;
};

void PrintCommandHelp(const CommandSpec& command);

// Strict conversions of what the user typed; nullopt when the text is not one.
std::optional<std::uint32_t> ParseUnsigned(std::string_view text);
std::optional<std::int64_t> ParseSigned(std::string_view text);
// A UTF-8 argument as UTF-16; nullopt when it is not well-formed UTF-8.
std::optional<CString> ParseUtf8(std::string_view text);

}  // namespace nametree::cli
