// A command's arguments as one typed struct. CLI11 collects the words of
// each table entry; the entry's own conversion turns them into its field,
// once, in table order (positionals first), and the first word that does
// not convert is the run's usage error. The command then acts on the struct
// alone: it never sees argv or an option's name.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "cli.h"
#include "document.h"
#include "output.h"

namespace nametree::cli {

// Where a run reports: its command's name and the run's Reporter.
class Context {
 public:
  Context(std::string_view command, Reporter& reporter) : command_(command), reporter_(&reporter) {}
  std::string_view Command() const { return command_; }
  Reporter& Report() const { return *reporter_; }
  // "nametree CMD: message" and a pointer to the help (or, under --json, an
  // error object); returns 2.
  int UsageError(const std::string& message) const { return reporter_->Usage(command_, message); }

 private:
  std::string_view command_;
  Reporter* reporter_;
};

// The field types that know how their words convert and what a wrong one
// is told. Each Convert returns the usage error, empty when the words fit.

// --kind N: any unsigned number.
struct Kind {
  std::uint32_t value = kOrdinaryName;
};
// A whole number from Lo to Hi.
template <std::uint32_t Lo, std::uint32_t Hi, std::uint32_t Default = Lo>
struct Bounded {
  std::uint32_t value = Default;
};
// A container as typed: a number, or @LABEL to look up once the document is open.
struct ContainerWord {
  std::string text;
  std::uint32_t id = 0;  // 0 for a label until it is looked up
  bool IsLabel() const { return !text.empty() && text[0] == '@'; }
};
// A name or other text as the user types it (ParseName's escapes), UTF-8.
struct NameText {
  CString value;
  std::string typed;
};
// --wait SECONDS.
struct WaitSeconds {
  int value = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(DocumentOptions{}.wait).count());
};

std::string Convert(std::string_view what, const Words& words, bool* out);
std::string Convert(std::string_view what, const Words& words, std::string* out);
std::string Convert(std::string_view what, const Words& words, std::optional<std::string>* out);
std::string Convert(std::string_view what, const Words& words, std::vector<std::string>* out);
std::string Convert(std::string_view what, const Words& words, Kind* out);
std::string Convert(std::string_view what, const Words& words, ContainerWord* out);
std::string Convert(std::string_view what, const Words& words, NameText* out);
std::string Convert(std::string_view what, const Words& words, WaitSeconds* out);
std::string Convert(std::string_view what, const Words& words, NameProfile* out);
std::string ConvertBounded(std::string_view what, const Words& words, std::uint32_t lo, std::uint32_t hi,
                           std::uint32_t* out);
template <std::uint32_t Lo, std::uint32_t Hi, std::uint32_t Default>
std::string Convert(std::string_view what, const Words& words, Bounded<Lo, Hi, Default>* out) {
  return ConvertBounded(what, words, Lo, Hi, &out->value);
}
// An option whose absence means something of its own.
template <class T>
std::string Convert(std::string_view what, const Words& words, std::optional<T>* out) {
  if (words.empty()) return {};
  T value{};
  std::string error = Convert(what, words, &value);
  if (error.empty()) *out = std::move(value);
  return error;
}

// The options every command that writes a document shares.
struct WriteFlags {
  WaitSeconds wait;
  bool force = false;
  bool dryRun = false;
  DocumentOptions Options() const {
    DocumentOptions options;
    options.wait = std::chrono::seconds(wait.value);
    options.force = force;
    options.dryRun = dryRun;
    return options;
  }
};
// --keyword-set and --keywords: the reserved words, read when the run needs them.
struct KeywordFlags {
  std::vector<std::string> sets;   // known set names
  std::vector<std::string> files;  // "-" is standard input
};
// The set names of --keyword-set, each checked.
std::string ConvertKeywordSets(const Words& words, std::vector<std::string>* out);

// --json with the help most commands give it.
extern const OptionSpec kJsonOption;
// --json of the commands whose whole report is one object.
extern const OptionSpec kJsonObjectOption;

template <class O>
using Setter = std::function<std::string(O&, const Words&)>;

template <class O>
class Binder {
 public:
  // `initial` holds what no entry sets (which edit a command is).
  explicit Binder(O initial = O{}) : initial_(std::move(initial)) {}

  // An entry converted by its field's type; the field may be a base's.
  template <class F, class B>
  Binder& Arg(PositionalSpec given, F B::*field) {
    return Arg(given, Into(std::string(given.name), field));
  }
  template <class F, class B>
  Binder& Opt(OptionSpec given, F B::*field) {
    return Opt(given, Into("--" + std::string(given.name), field));
  }
  Binder& Arg(PositionalSpec given, Setter<O> set) {
    positionals_.push_back(given);
    positionalSetters_.push_back(std::move(set));
    return *this;
  }
  Binder& Opt(OptionSpec given, Setter<O> set) {
    options_.push_back(given);
    optionSetters_.push_back(std::move(set));
    return *this;
  }
  // --wait, --force and --dry-run, in that order.
  Binder& Write() {
    static_assert(std::is_base_of_v<WriteFlags, O>);
    return Opt(kWaitOption, &WriteFlags::wait).Opt(kForceOption, &WriteFlags::force).Opt(kDryRunOption, &WriteFlags::dryRun);
  }
  Binder& KeywordFiles(OptionSpec given) { return Opt(given, &KeywordFlags::files); }
  Binder& KeywordSets() {
    return Opt(kKeywordSetOption, [](O& o, const Words& w) { return ConvertKeywordSets(w, &o.KeywordFlags::sets); });
  }
  // A rule between fields, judged after every entry converted.
  Binder& Check(std::function<std::string(const O&)> check) {
    checks_.push_back(std::move(check));
    return *this;
  }

  // The struct from the words of every entry (positionals, then options, in
  // table order); nullopt with *error at the first that does not fit.
  std::optional<O> Bind(const std::vector<Words>& words, std::string* error) const {
    O o = initial_;
    for (std::size_t i = 0; i < words.size(); ++i) {
      const Setter<O>& set =
          i < positionalSetters_.size() ? positionalSetters_[i] : optionSetters_[i - positionalSetters_.size()];
      if (std::string e = set(o, words[i]); !e.empty()) return *error = std::move(e), std::nullopt;
    }
    // mutate: bind-skips-rules
    for (const auto& check : checks_)
      if (std::string e = check(o); !e.empty()) return *error = std::move(e), std::nullopt;
    return o;
  }

  // Another binder's entries and rules, for the field `inner` of ours:
  // its positionals after ours, its options after ours.
  template <class I>
  Binder& Nest(const Binder<I>& inner, I O::*field) {
    // mutate: nested-edit-kind-lost
    initial_.*field = inner.initial_;
    for (std::size_t i = 0; i < inner.positionals_.size(); ++i)
      Arg(inner.positionals_[i], [set = inner.positionalSetters_[i], field](O& o, const Words& w) { return set(o.*field, w); });
    for (std::size_t i = 0; i < inner.options_.size(); ++i)
      Opt(inner.options_[i], [set = inner.optionSetters_[i], field](O& o, const Words& w) { return set(o.*field, w); });
    for (const auto& check : inner.checks_) Check([check, field](const O& o) { return check(o.*field); });
    return *this;
  }

  // The table entry, for help and for a parser of its own.
  CommandSpec Entry(std::string_view name, std::string_view summary, std::string_view details) const {
    return {name, summary, details, positionals_, options_};
  }
  // The table entry that binds and then runs `act`.
  CommandSpec Command(std::string_view name, std::string_view summary, std::string_view details,
                      int (*act)(const O&, const Context&)) const {
    CommandSpec entry = Entry(name, summary, details);
    entry.act = [copy = *this, act](const std::vector<Words>& words, const Context& context) {
      std::string error;
      const std::optional<O> o = copy.Bind(words, &error);
      return o ? act(*o, context) : context.UsageError(error);
    };
    return entry;
  }

  const std::vector<PositionalSpec>& Positionals() const { return positionals_; }
  const std::vector<OptionSpec>& Options() const { return options_; }

 private:
  template <class F, class B>
  static Setter<O> Into(std::string what, F B::*field) {
    static_assert(std::is_base_of_v<B, O> || std::is_same_v<B, O>);
    return [what = std::move(what), field](O& o, const Words& w) { return Convert(what, w, &(o.*field)); };
  }

  template <class>
  friend class Binder;
  O initial_;
  std::vector<PositionalSpec> positionals_;
  std::vector<Setter<O>> positionalSetters_;
  std::vector<OptionSpec> options_;
  std::vector<Setter<O>> optionSetters_;
  std::vector<std::function<std::string(const O&)>> checks_;
};

// The DocumentOptions of a command that creates a document.
inline DocumentOptions CreateOptions(bool dryRun) {
  DocumentOptions options;
  // mutate: create-options-dry-run-lost
  options.dryRun = dryRun;
  return options;
}

// A ContainerWord given as @LABEL, looked up in the open document; false
// with *error when no container (or more than one) has it.
bool ResolveLabel(const Document& doc, const char* what, ContainerWord* word, std::string* error);

}  // namespace nametree::cli
