// Completion scripts for bash and zsh, made from the command table: each
// command's options, which of them take a value (so that the value is not
// taken for a positional word), which words are paths, the words a value
// may be, and where a container goes, whose @LABELs the scripts ask of the
// document named earlier on the line ('completion --labels', which reads it
// without the lock, so that a tab never waits for a writer or stalls one).
#include <cstdio>

#include "args.h"
#include "bound.h"
#include "document.h"
#include "help.h"
#include "output.h"

namespace nametree::cli {

namespace {

constexpr std::string_view kShells[] = {"bash", "zsh"};

std::vector<std::string> ShellNames() { return {std::begin(kShells), std::end(kShells)}; }

// How the table spells a word that is a path (file names complete there)
// or a container (labels complete there).
char PathKind(std::string_view word) {
  for (std::string_view file : {"FILE", "DOC", "A", "B", "IN", "OUT", "INPUT", "PROJECT", "PATH"})
    // mutate: completion-no-files
    if (word == file) return 'f';
  // mutate: label-completion-parent-missing
  if (word == "CONTAINER" || word == "PARENT") return 'c';
  return word == "DIR" ? 'd' : 'w';
}

// The words of a fixed list, blank-separated.
std::string WordList(Choices choices) {
  std::string out;
  for (const std::string& w : choices()) out += (out.empty() ? "" : " ") + w;
  return out;
}

void Replace(std::string& text, std::string_view marker, const std::string& with) {
  text.replace(text.find(marker), marker.size(), with);
}

constexpr char kBash[] = R"script(# bash completion for nametree: source it, or put it where bash-completion
# looks for completions. Made by 'nametree completion bash'.
_nametree() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local commands='@COMMANDS@'
  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi
  local opts='' values='' paths='' dirs='' containers='' slots='' many=0
  local -A optwords=() slotwords=()
  case ${COMP_WORDS[1]} in
@CASES@    *) return ;;
  esac
  [[ $cur == = ]] && cur=''
  local option=$prev want='' words=''
  [[ $prev == = ]] && option=${COMP_WORDS[COMP_CWORD-2]}
  # Which positional word this is (options and their values do not count),
  # and the document: the first word in a file's place.
  local i w n=0 doc='' more=1
  local -a kinds=($slots)
  for ((i = 2; i < COMP_CWORD; i++)); do
    w=${COMP_WORDS[i]}
    if [[ $w == -- ]]; then
      more=0
    elif ((more)) && [[ $w == -?* ]]; then
      if [[ ${COMP_WORDS[i+1]-} == = ]]; then
        i=$((i + 2))
      // mutate: completion-value-counted
      elif [[ " $values " == *" $w "* ]]; then
        i=$((i + 1))
      fi
    else
      [[ -z $doc && ${kinds[n]-} == f ]] && doc=$w
      n=$((n + 1))
    fi
  done
  if ((COMP_CWORD > 2)) && [[ " $values " == *" $option "* ]]; then
    [[ " $paths " == *" $option "* ]] && want=f
    [[ " $dirs " == *" $option "* ]] && want=d
    [[ " $containers " == *" $option "* ]] && want=c
    words=${optwords[$option]-}
  elif ((more)) && [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    return
  else
    ((n >= ${#kinds[@]} && many)) && n=$((${#kinds[@]} - 1))
    want=${kinds[n]}
    words=${slotwords[$n]-}
  fi
  if [[ -n $words ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    return
  fi
  case $want in
    f) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    d) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
    c) [[ -n $doc ]] && mapfile -t COMPREPLY < <(compgen -W \
         "$("${COMP_WORDS[0]}" completion --labels "${doc/#\~/$HOME}" 2>/dev/null)" -- "$cur") ;;
  esac
}
complete -F _nametree nametree
)script";

constexpr char kZsh[] = R"script(#compdef nametree
# zsh completion for nametree: save it as _nametree in a directory of $fpath,
# or source it. Made by 'nametree completion zsh'.
_nametree() {
  local -a commands
  commands=(
@COMMANDS@  )
  if ((CURRENT == 2)); then
    _describe -t commands 'nametree command' commands
    return
  fi
  local command=$words[2] _nametree_program=$words[1]
  shift words
  ((CURRENT--))
  case $command in
@CASES@  esac
}
# The labels of the document that is the Nth word after the command (the
# last argument; _arguments puts compadd's options before it).
_nametree_labels() {
  local doc=${(Q)line[${@[-1]}]}
  [[ -n $doc ]] || return 1
  local -a labels
  labels=(${(f)"$(_call_program labels ${(q)_nametree_program} completion --labels ${(q)${doc/#\~/$HOME}} 2>/dev/null)"})
  compadd "${@[1,-2]}" -a labels
}
if [[ $zsh_eval_context[-1] == loadautofunc ]]; then
  _nametree "$@"
else
  compdef _nametree nametree
fi
)script";

std::string BashScript(const std::vector<CommandSpec>& table) {
  std::string commands, cases;
  for (const CommandSpec& c : table) {
    commands += (commands.empty() ? "" : " ") + std::string(c.name);
    std::string opts = "--help", values, paths, dirs, containers, slots, optwords, slotwords;
    for (const OptionSpec& o : c.options) {
      const std::string option = "--" + std::string(o.name);
      // mutate: completion-options-missing
      opts += " " + option;
      if (o.value.empty()) continue;
      values += " " + option;
      if (PathKind(o.value) == 'f') paths += " " + option;
      if (PathKind(o.value) == 'd') dirs += " " + option;
      if (PathKind(o.value) == 'c') containers += " " + option;
      // mutate: completion-option-values-missing
      if (o.choices) optwords += "[" + option + "]='" + WordList(o.choices) + "' ";
    }
    for (std::size_t i = 0; i < c.positionals.size(); ++i) {
      const PositionalSpec& p = c.positionals[i];
      slots += std::string(" ") + PathKind(p.name);
      if (p.choices) slotwords += "[" + std::to_string(i) + "]='" + WordList(p.choices) + "' ";
    }
    const bool many = !c.positionals.empty() && c.positionals.back().many;
    cases += "    " + std::string(c.name) + ") opts='" + opts + "' values='" + values + "' paths='" + paths +
             "' dirs='" + dirs + "' containers='" + containers + "' slots='" + slots + "' many=" +
             (many ? "1" : "0") + " optwords=(" + optwords + ") slotwords=(" + slotwords + ") ;;\n";
  }
  std::string script = kBash;
  Replace(script, "@CASES@", cases);
  Replace(script, "@COMMANDS@", commands);
  return script;
}

// Text inside a single-quoted zsh word.
std::string ZshQuoted(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out;
}

// An explanation in _arguments' brackets.
std::string Explanation(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == '\\') out += '\\';
    out += c == '\n' ? ' ' : c;
  }
  return "[" + ZshQuoted(out) + "]";
}

// What completes a value named `word`; `document` is the place of the
// document among the command's words (1 for the first), 0 when none.
std::string Action(std::string_view word, Choices choices, std::size_t document) {
  if (choices) return "(" + ZshQuoted(WordList(choices)) + ")";
  const char kind = PathKind(word);
  if (kind == 'c') return document ? "_nametree_labels " + std::to_string(document) : " ";
  return kind == 'f' ? "_files" : kind == 'd' ? "_files -/" : " ";
}

std::string ZshScript(const std::vector<CommandSpec>& table) {
  std::string commands, cases;
  for (const CommandSpec& c : table) {
    commands += "    '" + std::string(c.name) + ":" + ZshQuoted(c.summary) + "'\n";
    std::size_t document = 0;
    for (std::size_t i = 0; i < c.positionals.size() && !document; ++i)
      if (PathKind(c.positionals[i].name) == 'f') document = i + 1;
    cases += "    " + std::string(c.name) + ") _arguments \\\n      '--help[print the help of this command]'";
    for (const OptionSpec& o : c.options) {
      cases += " \\\n      '" + std::string(o.repeatable ? "*" : "") + "--" + std::string(o.name);
      if (o.value.empty()) cases += Explanation(o.help) + "'";
      else cases += "=" + Explanation(o.help) + ":" + std::string(o.value) + ":" + Action(o.value, o.choices, document) + "'";
    }
    for (const PositionalSpec& p : c.positionals)
      cases += std::string(" \\\n      '") + (p.many ? "*:" : p.required ? ":" : "::") + std::string(p.name) + ":" +
               Action(p.name, p.choices, document) + "'";
    cases += " ;;\n";
  }
  std::string script = kZsh;
  Replace(script, "@CASES@", cases);
  Replace(script, "@COMMANDS@", commands);
  return script;
}

// One @LABEL a line, as the scripts offer them.
int PrintLabels(const Context& context, const std::string& path) {
  Document doc = Document::InMemory();
  // mutate: label-completion-takes-lock
  if (int rc = OpenDocument(context.Report(), doc, path, false)) return rc;
  for (const auto& [id, label] : doc.Labels16()) std::printf("@%s\n", Display(label).c_str());
  return kExitOk;
}

struct CompletionOptions {
  std::optional<std::string> shell;
  std::optional<std::string> labels;
};

std::string CheckCompletion(const CompletionOptions& o) {
  if (o.labels && o.shell) return "give SHELL or --labels FILE, not both";
  if (!o.labels && !o.shell) return "SHELL is missing: bash or zsh";
  return {};
}

int RunCompletion(const CompletionOptions& o, const Context& context) {
  if (o.labels) return PrintLabels(context, *o.labels);
  const std::optional<std::string> script = CompletionScript(*o.shell, AllCommands());
  if (!script) return context.UsageError("no completion for the shell \"" + Echo(*o.shell) + "\"; try bash or zsh");
  std::fputs(script->c_str(), stdout);
  return kExitOk;
}

}  // namespace

std::optional<std::string> CompletionScript(std::string_view shell, const std::vector<CommandSpec>& table) {
  if (shell == kShells[0]) return BashScript(table);
  if (shell == kShells[1]) return ZshScript(table);
  return std::nullopt;
}

void AddCompletionCommand(std::vector<CommandSpec>& table) {
  table.push_back(Binder<CompletionOptions>()
                      .Arg({"SHELL", "bash or zsh", false, false, ShellNames}, &CompletionOptions::shell)
                      .Opt({"labels", "FILE", "print the labels of FILE instead, one @LABEL a line, as the scripts offer "
                                              "them; reads without waiting for a writer"},
                           &CompletionOptions::labels)
                      .Check(CheckCompletion)
                      .Command("completion", "print a completion script for bash or zsh",
                   "  source <(nametree completion bash)            # bash, in this shell\n"
                   "  nametree completion zsh > ~/.zfunc/_nametree  # zsh, with ~/.zfunc in $fpath\n"
                   "Completes commands, their options, the words a value may be, file names where a\n"
                   "command takes a file, and the @LABELs of the document on the line where it takes a\n"
                   "container.",
                   RunCompletion));
}

}  // namespace nametree::cli
