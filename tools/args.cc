#include "args.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "bound.h"
#include "document.h"
#include "help.h"
#include "nametree/utf8.h"
#include "nametree/version.h"
#include "output.h"

namespace nametree::cli {

ParsedCommand::ParsedCommand(CLI::App& parent, const CommandSpec& entry)
    : entry_(entry), app_(parent.add_subcommand(std::string(entry.name), std::string(entry.summary))) {
  if (!entry.details.empty()) app_->footer(std::string(entry.details));
  for (const PositionalSpec& p : entry.positionals) {
    CLI::Option* o = app_->add_option(std::string(p.name))->description(std::string(p.help));
    if (p.required) o->required();
    if (p.many) o->expected(p.required ? 1 : 0, CLI::detail::expected_max_vector_size)->allow_extra_args();
    positionals_.push_back(o);
  }
  for (const OptionSpec& s : entry.options) {
    const std::string name = "--" + std::string(s.name);
    const std::string help = std::string(s.help);
    CLI::Option* o = nullptr;
    if (s.value.empty()) {
      o = app_->add_flag(name)->description(help);
    } else {
      o = app_->add_option(name)->description(help)->type_name(std::string(s.value));
      if (s.repeatable) o->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    options_.emplace_back(std::string(s.name), o);
  }
}

std::vector<Words> ParsedCommand::Collected() const {
  std::vector<Words> words;
  for (CLI::Option* o : positionals_) words.push_back(o->results());
  for (const auto& [name, o] : options_) {
    if (o->get_type_size() == 0) words.push_back(o->count() ? Words{""} : Words{});  // a flag
    else words.push_back(o->count() ? o->results() : Words{});
  }
  return words;
}

bool ParsedCommand::WantsJson() const {
  for (const auto& [name, o] : options_)
    // mutate: usage-json-unseen
    if (name == kJsonOption.name) return o->count() > 0;
  return false;
}

namespace {

bool WantsJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--json") == 0) return true;
  return false;
}

// The command nearest to `word`: at most two letters off, or one that
// begins with it; empty when none is that near.
std::string NearestCommand(const std::vector<CommandSpec>& table, std::string_view word) {
  std::string best;
  // mutate: no-command-suggestion
  std::size_t bestCost = 3;
  for (const CommandSpec& c : table) {
    std::vector<std::size_t> row(c.name.size() + 1);  // edit distances, one row at a time
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= word.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j < row.size(); ++j) {
        const std::size_t above = row[j];
        row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (word[i - 1] != c.name[j - 1] ? 1 : 0)});
        diagonal = above;
      }
    }
    const std::size_t cost = !word.empty() && c.name.starts_with(word) ? 1 : row.back();
    if (cost < bestCost) {
      bestCost = cost;
      best = c.name;
    }
  }
  return best;
}

bool IsCommand(const std::vector<CommandSpec>& table, std::string_view word) {
  return std::any_of(table.begin(), table.end(), [&](const CommandSpec& c) { return c.name == word; });
}

int UnknownCommand(const std::vector<CommandSpec>& table, std::string_view word, bool json) {
  const std::string nearest = NearestCommand(table, word);
  return Reporter(json).Usage("", "unknown command \"" + Echo(word) + "\"" +
                                      (nearest.empty() ? "" : "; did you mean \"" + nearest + "\"?"));
}

struct HelpOptions {
  std::optional<std::string> command;
  bool man = false;
};

int RunHelp(const HelpOptions& o, const Context&) {
  const std::vector<CommandSpec> table = AllCommands();
  if (o.man) {
    std::fputs(ManPage(table).c_str(), stdout);
    return kExitOk;
  }
  const ProgramParser parser(table);
  if (!o.command) {
    std::fputs(parser.app.help().c_str(), stdout);
    return kExitOk;
  }
  if (!IsCommand(table, *o.command)) return UnknownCommand(table, *o.command, false);
  std::fputs(parser.app.get_subcommand(*o.command)->help("nametree").c_str(), stdout);
  return kExitOk;
}

// A pipe whose reader has closed it shows an error when polled; an earlier
// write's EPIPE may be long gone from errno.
bool ReaderGone() {
  pollfd out{STDOUT_FILENO, POLLOUT, 0};
  return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
}

// Output that could not be written is an error even when the work was done.
int CheckOutput(const Reporter& reporter, int code) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
  // A reader that stopped early (| head) ends us quietly, as it does any
  // filter, also when SIGPIPE was ignored by whoever started us.
  // mutate: ignored-sigpipe-reported
  if (errno == EPIPE || ReaderGone()) {
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
  }
  const std::string* saved = reporter.SavedPath();
  std::fprintf(stderr, "nametree: cannot write the output: %s%s%s%s\n", std::strerror(errno ? errno : EIO),
               saved ? "; the edits were saved to " : "", saved ? saved->c_str() : "", saved ? " all the same" : "");
  return kExitError;
}

int Dispatch(int argc, char** argv, Reporter& reporter) {
  const std::vector<CommandSpec> table = AllCommands();
  ProgramParser parser(table);
  CLI::App& app = parser.app;
  if (argc < 2) {
    std::fputs(app.help().c_str(), stdout);
    return kExitError;
  }
  const std::string_view first = argv[1];
  if (!first.empty() && first[0] != '-' && !IsCommand(table, first))
    return UnknownCommand(table, first, WantsJson(argc, argv));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const CLI::App* failed = &app;
    for (const auto& c : parser.commands)
      if (c->App()->parsed()) failed = c->App();
    return Reporter(WantsJson(argc, argv)).Usage(failed == &app ? std::string() : failed->get_name(), e.what());
  }
  if (parser.version) {
    std::printf("nametree %s\n", LibraryVersion());
    return kExitOk;
  }
  for (const auto& c : parser.commands) {
    if (!c->App()->parsed()) continue;
    reporter = Reporter(c->WantsJson());
    return c->Entry().act(c->Collected(), Context(c->Entry().name, reporter));
  }
  std::fputs(app.help().c_str(), stdout);
  return kExitError;
}

}  // namespace

namespace {

// Input too large for the memory there is; the document on disk is whole.
void ReportOutOfMemory(const Reporter& reporter) {
  std::fprintf(stderr, "nametree: out of memory; %s\n",
               reporter.SavedPath() ? "the document was saved before" : "the document was not changed");
}

}  // namespace

int RunProgram(int argc, char** argv) {
  int code = kExitError;
  Reporter reporter;
  try {
    code = Dispatch(argc, argv, reporter);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(reporter);
  } catch (const std::length_error&) {
    ReportOutOfMemory(reporter);
  }
  // Under --json stdout holds one object; the note goes beside it.
  if (const std::string* path = reporter.DryRunPath())
    std::fprintf(reporter.AsJson() ? stderr : stdout, "%sdry run: %s left unchanged\n",
                 reporter.AsJson() ? "nametree: " : "", path->c_str());
  return CheckOutput(reporter, code);
}

ProgramParser::ProgramParser(const std::vector<CommandSpec>& table) : app(kProgramAbout, "nametree") {
  app.footer(GlobalFooter());
  app.formatter(MakeHelpFormatter(HelpWidth()));  // before the subcommands, which take it over
  app.require_subcommand(0, 1);
  app.add_flag("-V,--version", version, "print the program's version and exit");
  for (const CommandSpec& entry : table) commands.push_back(std::make_unique<ParsedCommand>(app, entry));
}

void AddHelpCommand(std::vector<CommandSpec>& table) {
  table.push_back(Binder<HelpOptions>()
                      .Arg({"COMMAND", "the command", false, false, CommandNames}, &HelpOptions::command)
                      .Opt({"man", "", "print the manual page (roff) instead"}, &HelpOptions::man)
                      .Check([](const HelpOptions& o) { return o.man && o.command ? "--man takes no COMMAND" : ""; })
                      .Command("help", "print the help of a command, or of the program",
                               "  nametree help add      # the same as 'nametree add --help'\n"
                               "  nametree help --man    # the manual page: nametree help --man | man -l -",
                               RunHelp));
}

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const CommandSpec& c : AllCommands()) names.emplace_back(c.name);
  return names;
}

std::vector<ExitCodeSpec> ExitCodes() {
  return {
      {std::to_string(kExitOk), "success",
       "The command did what it was asked; diff found the documents equal; lint found nothing."},
      {std::to_string(kExitRefused), "refused by the library (or findings of lint)",
       "The library refused a name or an edit (a batch line among them), nothing was found, diff found "
       "differences, or lint reported findings. A document is left as it was unless the command says it saved."},
      {std::to_string(kExitError), "usage, file or output error",
       "Wrong arguments, a document that cannot be read, locked by another writer for longer than --wait, or "
       "damaged, or output that cannot be written."},
      {std::to_string(kExitSignalBase) + "+N", "ended by signal N",
       "Ended by SIGINT or SIGTERM (" + std::to_string(kExitSignalBase + SIGINT) + " for Ctrl-C); the last line "
       "on standard error says whether the document was saved before or left unchanged."},
  };
}

std::vector<CommandSpec> AllCommands() {
  std::vector<CommandSpec> table;
  AddDocumentCommands(table);
  AddEditCommands(table);
  AddBatchCommand(table);
  AddNameCommands(table);
  AddLookupCommands(table);
  AddNavigateCommands(table);
  AddLabelCommand(table);
  AddKeywordCommand(table);
  AddExportCommands(table);
  AddLintCommands(table);
  AddPlcopenCommands(table);
  AddDemoCommand(table);
  AddCompletionCommand(table);
  // mutate: help-not-a-command
  AddHelpCommand(table);
  return table;
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

std::optional<CString> ParseUtf8(std::string_view text) { return FromUtf8Strict(text); }

}  // namespace nametree::cli
