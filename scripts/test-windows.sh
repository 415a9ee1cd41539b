#!/usr/bin/env bash
# The Windows build of the Qt-free part: cross-builds the windows preset
# (mingw-w64) and runs its tests under wine, kelm.exe's against the Linux
# simulator. One wine prefix, made in a
# temporary folder, serves the whole run; its server stays up between the
# test programs and is stopped before the prefix is removed.
# Usage: scripts/test-windows.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

start=$(date +%s)
# kelm.exe is tested against the Linux kelm-sim and compared with the Linux
# kelm: both come from the default preset (already built when this runs after
# scripts/test.sh).
[ -f build/default/build.ninja ] || cmake --preset default
cmake --build --preset default -j "$(nproc)" --target kelm kelm-sim
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
KELM_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kelm-wine.XXXXXX")
export KELM_WINEPREFIX
cleanup() {
  WINEPREFIX="$KELM_WINEPREFIX" wineserver -k 2>/dev/null || true
  WINEPREFIX="$KELM_WINEPREFIX" wineserver -w 2>/dev/null || true
  rm -rf "$KELM_WINEPREFIX"
}
trap cleanup EXIT
# The prefix is made once, up front (wineboot returns before it is done).
WINEPREFIX="$KELM_WINEPREFIX" wineboot -i >/dev/null 2>&1 || true
WINEPREFIX="$KELM_WINEPREFIX" wineserver -w 2>/dev/null || true

report=build/windows/tests/windows/kelm_under_wine.txt
rm -f "$report"
ctest --preset windows "$@"
# kelm.exe's end-to-end timings (when that test ran).
[ ! -f "$report" ] || cat "$report"
echo "windows_step_s=$(( $(date +%s) - start ))"
