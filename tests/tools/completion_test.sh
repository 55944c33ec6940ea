#!/bin/bash
# The completion scripts and the manual page against the help the program
# prints: every command and option it lists completes and is in the page.
# Usage: completion_test.sh PROGRAM
set -u
prog=$1
here=$(cd "$(dirname "$0")" && pwd)
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

# The manual page: every exit code the help lists has its entry, and the
# examples run as they stand, one after the other, in an empty directory.
codes=$(sed -n '/^Exit codes:/,$s/^  \([0-9][0-9+N]*\)  .*/\1/p' <<<"$help")
[ "$(wc -w <<<"$codes")" -ge 3 ] || fail "too few exit codes in the help: $codes"
status_section=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' nametree.1)
for code in $codes; do
  grep -Fqx "\\fB$code\\fR" <<<"$status_section" || fail "EXIT STATUS misses $code"
done
for section in 'EXIT STATUS' EXAMPLES FILES; do
  inpage "$section" || fail "the page has no $section"
done
mkdir bin examples
ln -s "$prog" bin/nametree
export PATH=$PWD/bin:$PATH
sed -n '/^\.SH EXAMPLES/,/^\.SH /{/^\.nf/,/^\.fi/p}' nametree.1 | grep -v '^\.[nf][fi]$' |
  sed 's/\\-/-/g; s/\\e/\\/g; s/^\\&//' >examples.sh
grep -q 'git diff' examples.sh || fail "no git diff among the examples"
if command -v git >/dev/null; then
  (cd examples && git init -q && git config user.email t@example.org && git config user.name t &&
    # What the first example makes is committed; the rest change it.
    bash -e <(sed '/nametree batch/,$d' ../examples.sh) >/dev/null && git add plant.nt && git commit -qm one &&
    bash -e <(sed -n '/nametree batch/,$p' ../examples.sh) >../examples.out 2>&1) ||
    fail "the examples do not run: $(cat examples.out 2>/dev/null)"
  grep -q '^+container [0-9]* (target) @plc1$' examples.out || fail "git diff shows no canonical dump: $(cat examples.out)"
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

# Values from the command table.
expect "global own plain target " nametree add-container plant.nt 0 --type ''
expect "target " nametree add-container plant.nt 0 --type = t
expect "add list remove " nametree keyword ''
expect "iec61131-3 iec61131-3-ed2 iec61131-3-ed3 " nametree keyword add plant.nt --set ''
expect "iec61131-3 iec61131-3-ed2 iec61131-3-ed3 " nametree batch plant.nt --keyword-set i
expect "bash zsh " nametree completion ''
expect "help " nametree help he
expect "--man " nametree help --m
expect "plant.nt " nametree completion --labels pl
# Labels of the document named earlier on the line, read while a writer
# holds its lock.
nametree init labelled.nt >/dev/null && nametree batch labelled.nt >/dev/null <<'END' || fail "the labelled document"
add-container 0 --type global --as area
add-container @area --as plc1
add-container 0 --ref unlabelled
END
python3 -c 'import fcntl, time; f = open("labelled.nt", "r+"); fcntl.lockf(f, fcntl.LOCK_EX); print(flush=True); time.sleep(60)' >locked &
locker=$!
for _ in $(seq 100); do [ -s locked ] && break; sleep 0.1; done
nametree add labelled.nt @area X --wait 0 >/dev/null 2>&1
[ $? = 2 ] || fail "the lock is not held"
{
  expect "@area @plc1 " nametree add labelled.nt ''
  expect "@plc1 " nametree add labelled.nt @p
  expect "@area @plc1 " nametree add-container labelled.nt --type global ''
  expect "@area @plc1 " nametree add --kind 1 labelled.nt ''       # the document after an option
  expect "@area @plc1 " nametree label labelled.nt ''
  expect "" nametree add labelled.nt @area ''                       # a name
  expect "" nametree rename labelled.nt ''                          # a name's ID
  expect "" nametree add absent.nt ''
}
# zsh: the same function in a real interactive zsh, under a pseudo-terminal.
if command -v zsh >/dev/null; then
  mkdir zfunc && cp _nametree zfunc/ || fail "the zsh script"
  zexpect() {
    local want=$1 got
    shift
    got=$(timeout 30 zsh -f "$here/zsh_complete.zsh" "$PWD/zfunc" "$*" | sort | tr '\n' ' ')
    [ "$got" = "$want" ] || fail "zsh: '$*' completes to '$got', not '$want'"
  }
  zexpect "add add-container " nametree ad
  zexpect "--dry-run " nametree add --dr
  zexpect "global own plain target " nametree add-container labelled.nt 0 --type=
  zexpect "@area @plc1 " nametree add labelled.nt @
fi
kill $locker
exit $status
