#include "args.h"

#include <charconv>
#include <cstdio>

#include "nametree/utf8.h"

namespace nametree::cli {

namespace {

const OptionSpec* FindOption(const CommandSpec& command, std::string_view name) {
  for (const OptionSpec& o : command.options)
    if (o.name == name) return &o;
  return nullptr;
}

}  // namespace

bool Args::Parse(const CommandSpec& command, const std::vector<std::string>& words, Args* out,
                 int* exitCode) {
  out->command_ = std::string(command.name);
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (optionsEnded || w.size() < 2 || w[0] != '-' || (w[1] != '-' && w != "-h")) {
      out->positional_.push_back(w);
      continue;
    }
    if (w == "--") {
      optionsEnded = true;
      continue;
    }
    if (w == "-h" || w == "--help") {
      PrintCommandHelp(command);
      *exitCode = kExitOk;
      return false;
    }
    std::string name = w.substr(2);
    std::optional<std::string> value;
    if (std::size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    const OptionSpec* option = FindOption(command, name);
    if (!option) {
      *exitCode = out->UsageError("unknown option --" + name);
      return false;
    }
    if (option->takesValue && !value) {
      if (i + 1 == words.size()) {
        *exitCode = out->UsageError("option --" + name + " needs a value");
        return false;
      }
      value = words[++i];
    } else if (!option->takesValue && value) {
      *exitCode = out->UsageError("option --" + name + " takes no value");
      return false;
    }
    out->options_[name] = value.value_or("");
  }
  const int n = static_cast<int>(out->positional_.size());
  if (n < command.minArgs || n > command.maxArgs) {
    *exitCode = out->UsageError(n < command.minArgs ? "missing arguments" : "too many arguments");
    return false;
  }
  return true;
}

const std::string* Args::Value(std::string_view option) const {
  auto it = options_.find(std::string(option));
  return it == options_.end() ? nullptr : &it->second;
}

int Args::UsageError(const std::string& message) const {
  std::fprintf(stderr, "nametree %s: %s\nTry 'nametree %s --help'.\n", command_.c_str(),
               message.c_str(), command_.c_str());
  return kExitError;
}

void PrintCommandHelp(const CommandSpec& command) {
  std::printf("usage: nametree %.*s %.*s\n\n%.*s\n\n%.*s", static_cast<int>(command.name.size()),
              command.name.data(), static_cast<int>(command.synopsis.size()), command.synopsis.data(),
              static_cast<int>(command.summary.size()), command.summary.data(),
              static_cast<int>(command.details.size()), command.details.data());
}

std::optional<std::uint32_t> ParseUnsigned(std::string_view text) {
  std::uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<std::int64_t> ParseSigned(std::string_view text) {
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<CString> ParseUtf8(std::string_view text) {
  CString wide = FromUtf8(text);
  // The conversion replaces ill-formed bytes; a round trip shows whether it had to.
  if (ToUtf8(wide) != text) return std::nullopt;
  return wide;
}

}  // namespace nametree::cli
