#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine (the windows preset's
# CMAKE_CROSSCOMPILING_EMULATOR):
#   wine-run.sh [--host-helper HELPER] [--preload LIB] PROGRAM.exe [ARGS...]
#
# The wine prefix is $KELM_WINEPREFIX when the caller prepared one
# (scripts/test-windows.sh makes one for the whole run and keeps its
# wineserver up, so that programs start in a fraction of a second); otherwise
# a prefix is made in a temporary folder for this one run and removed after.
# With --host-helper, the program runs under that Linux program (which holds
# the pseudo-terminals behind the COM ports it maps into the prefix), with
# LIB preloaded into wine only.
set -euo pipefail

helper="" preload=""
while [ $# -gt 0 ]; do
  case "$1" in
    --host-helper) helper="$2"; shift 2 ;;
    --preload) preload="$2"; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--host-helper H] [--preload LIB] PROGRAM [ARGS...]" >&2; exit 2; }
# wine's processes run in other folders: the library needs its full path.
[ -z "$preload" ] || preload=$(realpath "$preload")

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

own_prefix=""
if [ -n "${KELM_WINEPREFIX:-}" ]; then
  export WINEPREFIX="$KELM_WINEPREFIX"
else
  own_prefix=$(mktemp -d "${TMPDIR:-/tmp}/kelm-wine.XXXXXX")
  export WINEPREFIX="$own_prefix"
fi

cleanup() {
  if [ -n "$own_prefix" ]; then
    # The server goes first: it must not outlive the ptys it has open.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$own_prefix"
  fi
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi

# The server's own reports (it lists its objects when a tty it holds hangs
# up, as the pulled-plug tests make them do) would drown the test's output.
wineserver -p5 2>/dev/null || true

run() {
  if [ -n "$helper" ]; then
    KELM_WINE_PRELOAD="$preload" "$helper" -- wine "$@"
  else
    wine "$@"
  fi
}

# A test program whose watchdog found a test hanging ends with 86, having
# said which test and where. Wine on a pty is not Windows on a UART: such a
# run is repeated once, in the open, and a second hang fails.
status=0
run "$@" || status=$?
if [ "$status" -eq 86 ]; then
  echo "wine-run.sh: $(basename "$1") hung (see the watchdog's line above); running it once more" >&2
  status=0
  run "$@" || status=$?
fi
exit $status
