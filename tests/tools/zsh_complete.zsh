#!/bin/zsh -f
# Types LINE and a tab into an interactive zsh under a pseudo-terminal, with
# the completion function in DIR on its $fpath, and prints each word that
# the completion system offered, one a line.
# Usage: zsh_complete.zsh DIR LINE
zmodload zsh/zpty || exit 2
zpty shell zsh -f -i
zpty -w shell 'PS1="" RPS1=""; unsetopt zle_bracketed_paste 2>/dev/null'
zpty -w shell "fpath=(${(q)1} \$fpath); autoload -Uz compinit; compinit -u -D"
# Every word given to compadd, except where a caller only asks what would
# match. The markers are put together as they print, so that the terminal's
# echo of these lines holds none.
zpty -w shell 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a hits; builtin compadd -A hits "$@"; local h m=HIT
  for h in $hits; do print -r -- "<$m:$h>"; done
  builtin compadd "$@"
}'
zpty -w shell 'comppostfuncs=(_done); _done() { local m=END; print -r -- "<$m>"; exit }'
zpty -w shell "$2"$'\t'
local line
while zpty -r shell line; do
  [[ $line == *'<END>'* ]] && break
  while [[ $line == *'<HIT:'*'>'* ]]; do
    line=${line#*<HIT:}
    print -r -- ${line%%>*}
    line=${line#*>}
  done
done
zpty -d shell
