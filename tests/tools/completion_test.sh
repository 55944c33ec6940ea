#!/bin/bash
# The completion scripts and the manual page against the help the program
# prints: every command and option it lists completes and is in the page.
# Usage: completion_test.sh PROGRAM
set -u
prog=$1
status=0
fail() { echo "FAIL: $*"; status=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export COLUMNS=1000 LC_ALL=C.UTF-8

"$prog" completion bash >nametree.bash && bash -n nametree.bash || fail "the bash script"
if command -v zsh >/dev/null; then
  "$prog" completion zsh >_nametree && zsh -n _nametree || fail "the zsh script"
fi
"$prog" completion fish >/dev/null 2>&1 && fail "completion fish"
source nametree.bash
complete_words() {
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
  _nametree
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}"
}
expect() {
  local want=$1 got
  shift
  got=$(complete_words "$@" | sort | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "'$*' completes to '$got', not '$want'"
}

help=$("$prog" --help)
commands=$(sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p' <<<"$help")
[ "$(wc -w <<<"$commands")" -gt 20 ] || fail "too few commands in the help: $commands"
"$prog" help --man >nametree.1 || fail "help --man"
source=$(<nametree.1)
page=
if command -v man >/dev/null; then
  page=$(MANWIDTH=10000 man --warnings -l nametree.1 2>warnings)
  [ -s warnings ] && fail "man warns: $(cat warnings)"
fi
inpage() { [[ -z $page || $page == *"$1"* ]]; }
for c in $commands; do
  complete_words nametree "${c:0:2}" | grep -qx -- "$c" || fail "nametree ${c:0:2}<TAB> misses $c"
  complete_words nametree help "${c:0:3}" | grep -qx -- "$c" || fail "nametree help ${c:0:3}<TAB> misses $c"
  summary=$(sed -n "s/^  $c  *//p" <<<"$help")
  inpage "$summary" || fail "the page misses $c: $summary"
  offered=" $(complete_words nametree "$c" -- | tr '\n' ' ') "
  for o in $("$prog" "$c" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p'); do
    [[ $offered == *" $o "* ]] || fail "nametree $c --<TAB> misses $o"
    inpage "$o" || fail "the page misses $c $o"
    # A plain "-" may print as a hyphen that a shell does not take.
    [[ $source == *"${o//-/\\-}"* ]] || fail "the page does not write $o with minus signs"
  done
done
[ -z "$page" ] || grep -qx ' *nametree keyword list FILE' <<<"$page" || fail "an example of the page is not a line of its own"
if command -v script >/dev/null; then  # a terminal's width beats COLUMNS
  widest=$(script -qec "stty cols 60; '$prog' add --help" /dev/null | tr -d '\r' |
    awk '{ if (length > w) w = length } END { print w }')
  [ "$widest" = 60 ] || fail "help on a terminal of 60 columns is $widest wide"
fi

mkdir tour
touch plant.nt
expect "add add-container " nametree ad
expect "--dry-run " nametree add --dr
expect "plant.nt " nametree add pl
expect "" nametree add plant.nt pl                      # a container ID
expect "plant.nt " nametree add plant.nt --keywords pl
expect "" nametree add plant.nt --kind pl               # a number
expect "plant.nt " nametree add --kind 1 pl             # the value is not the document
expect "plant.nt " nametree add --kind = 1 pl
expect "plant.nt " nametree diff plant.nt pl
expect "" nametree keyword add plant.nt BEGIN pl        # words, however many
expect "tour " nametree demo --keep t
exit $status
