#!/bin/bash
# kelm's manual page and bash completion against the program: every option
# that `kelm COMMAND --help` names is documented and completed, and the
# completion offers what a user types next.
# usage: docs_test.sh KELM MAN_PAGE_IN COMPLETION
set -u
kelm=$1 man=$2 completion=$3
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

for cmd in "" ports scan find info set read write watch backup restore clone provision; do
  help=$("$kelm" $cmd --help) || fail "kelm $cmd --help exits non-zero"
  for o in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    grep -qF -- "$(sed 's/-/\\-/g' <<<"$o")" "$man" || fail "man page lacks $o (kelm $cmd)"
    [ "$o" = --version ] || grep -qF -- "$o" "$completion" || fail "completion lacks $o (kelm $cmd)"
  done
done

# shellcheck source=/dev/null
source "$completion"
complete -p kelm >/dev/null || fail "the completion does not register kelm"
export PATH=$(dirname "$kelm"):$PATH
expect_completion() {
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _kelm
  [ "${COMPREPLY[*]}" = "$want" ] || fail "completing '$*': got '${COMPREPLY[*]}', want '$want'"
}
expect_completion "set" kelm se
expect_completion "scan set" kelm s
expect_completion "--new-parity --new-protocol" kelm set --new-p
expect_completion "none even" kelm info --parity ""
expect_completion "rtu ascii" kelm find --protocol ""
expect_completion "1200 19200 115200" kelm scan --baud 1
expect_completion "--from" kelm scan --fr
expect_completion "read" kelm rea
expect_completion "--interval" kelm watch --int
expect_completion "pulse_on pulse_off pulse_run pulse_count" kelm read pulse_
expect_completion "di_filter=" kelm write di_f
expect_completion "" kelm info --address ""
expect_completion "--dry-run" kelm restore --dr
expect_completion "provision" kelm pro
expect_completion "/dev/null" kelm info --port /dev/nul

echo "$failures failures"
[ "$failures" -eq 0 ]
