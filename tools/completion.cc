// Completion scripts for bash and zsh, made from the command table: each
// command's options, which of them take a value (so that the value is not
// taken for a positional word), and which words are paths.
#include <cstdio>

#include "args.h"
#include "help.h"
#include "output.h"

namespace nametree::cli {

namespace {

// How the table spells a word that is a path: file names complete there.
char PathKind(std::string_view word) {
  for (std::string_view file : {"FILE", "DOC", "A", "B", "IN", "OUT", "INPUT", "PROJECT", "PATH"})
    if (word == file) return 'f';
  return word == "DIR" ? 'd' : 'w';
}

void Replace(std::string& text, std::string_view marker, const std::string& with) {
  text.replace(text.find(marker), marker.size(), with);
}

constexpr char kBash[] = R"(# bash completion for nametree: source it, or put it where bash-completion
# looks for completions. Made by 'nametree completion bash'.
_nametree() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local commands='@COMMANDS@'
  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$commands help --help --version" -- "$cur")
    return
  fi
  local opts='' values='' paths='' dirs='' slots='' many=0
  case ${COMP_WORDS[1]} in
    help)
      ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
      return ;;
@CASES@    *) return ;;
  esac
  [[ $cur == = ]] && cur=''
  local option=$prev want=''
  [[ $prev == = ]] && option=${COMP_WORDS[COMP_CWORD-2]}
  if ((COMP_CWORD > 2)) && [[ " $values " == *" $option "* ]]; then
    [[ " $paths " == *" $option "* ]] && want=f
    [[ " $dirs " == *" $option "* ]] && want=d
  elif [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    return
  else
    # Which positional word this is: options and their values do not count.
    local i w n=0
    for ((i = 2; i < COMP_CWORD; i++)); do
      w=${COMP_WORDS[i]}
      if [[ $w == -?* ]]; then
        if [[ ${COMP_WORDS[i+1]} == = ]]; then
          i=$((i + 2))
        elif [[ " $values " == *" $w "* ]]; then
          i=$((i + 1))
        fi
      else
        n=$((n + 1))
      fi
    done
    local -a kinds=($slots)
    ((n >= ${#kinds[@]} && many)) && n=$((${#kinds[@]} - 1))
    want=${kinds[n]}
  fi
  case $want in
    f) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    d) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
  esac
}
complete -F _nametree nametree
)";

constexpr char kZsh[] = R"(#compdef nametree
# zsh completion for nametree: save it as _nametree in a directory of $fpath,
# or source it. Made by 'nametree completion zsh'.
_nametree() {
  local -a commands
  commands=(
@COMMANDS@    'help:print the help of a command'
  )
  if ((CURRENT == 2)); then
    _describe -t commands 'nametree command' commands
    return
  fi
  local command=$words[2]
  shift words
  ((CURRENT--))
  case $command in
    help) ((CURRENT == 2)) && _describe -t commands 'nametree command' commands ;;
@CASES@  esac
}
if [[ $zsh_eval_context[-1] == loadautofunc ]]; then
  _nametree "$@"
else
  compdef _nametree nametree
fi
)";

std::string BashScript(const std::vector<CommandSpec>& table) {
  std::string commands, cases;
  for (const CommandSpec& c : table) {
    commands += (commands.empty() ? "" : " ") + std::string(c.name);
    std::string opts = "--help", values, paths, dirs, slots;
    for (const OptionSpec& o : c.options) {
      const std::string option = "--" + std::string(o.name);
      opts += " " + option;
      if (o.value.empty()) continue;
      values += " " + option;
      if (PathKind(o.value) == 'f') paths += " " + option;
      if (PathKind(o.value) == 'd') dirs += " " + option;
    }
    for (const PositionalSpec& p : c.positionals) slots += std::string(" ") + PathKind(p.name);
    const bool many = !c.positionals.empty() && c.positionals.back().many;
    cases += "    " + std::string(c.name) + ") opts='" + opts + "' values='" + values + "' paths='" + paths +
             "' dirs='" + dirs + "' slots='" + slots + "' many=" + (many ? "1" : "0") + " ;;\n";
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

std::string Action(std::string_view word) {
  const char kind = PathKind(word);
  return kind == 'f' ? "_files" : kind == 'd' ? "_files -/" : " ";
}

std::string ZshScript(const std::vector<CommandSpec>& table) {
  std::string commands, cases;
  for (const CommandSpec& c : table) {
    commands += "    '" + std::string(c.name) + ":" + ZshQuoted(c.summary) + "'\n";
    cases += "    " + std::string(c.name) + ") _arguments \\\n      '--help[print the help of this command]'";
    for (const OptionSpec& o : c.options) {
      cases += " \\\n      '" + std::string(o.repeatable ? "*" : "") + "--" + std::string(o.name);
      if (o.value.empty()) cases += Explanation(o.help) + "'";
      else cases += "=" + Explanation(o.help) + ":" + std::string(o.value) + ":" + Action(o.value) + "'";
    }
    for (const PositionalSpec& p : c.positionals)
      cases += std::string(" \\\n      '") + (p.many ? "*:" : p.required ? ":" : "::") + std::string(p.name) + ":" +
               Action(p.name) + "'";
    cases += " ;;\n";
  }
  std::string script = kZsh;
  Replace(script, "@CASES@", cases);
  Replace(script, "@COMMANDS@", commands);
  return script;
}

int RunCompletion(const Args& args) {
  const std::optional<std::string> script = CompletionScript(args.At(0), AllCommands());
  if (!script) return args.UsageError("no completion for the shell \"" + Echo(args.At(0)) + "\"; try bash or zsh");
  std::fputs(script->c_str(), stdout);
  return kExitOk;
}

}  // namespace

std::optional<std::string> CompletionScript(std::string_view shell, const std::vector<CommandSpec>& table) {
  if (shell == "bash") return BashScript(table);
  if (shell == "zsh") return ZshScript(table);
  return std::nullopt;
}

void AddCompletionCommand(std::vector<CommandSpec>& table) {
  table.push_back({"completion", "print a completion script for bash or zsh",
                   "  source <(nametree completion bash)            # bash, in this shell\n"
                   "  nametree completion zsh > ~/.zfunc/_nametree  # zsh, with ~/.zfunc in $fpath\n"
                   "Completes commands, their options, and file names where a command takes a file.",
                   {{"SHELL", "bash or zsh"}},
                   {},
                   RunCompletion});
}

}  // namespace nametree::cli
