#!/usr/bin/env bash
# Screenshots for review, taken under Xvfb with the simulator's demo bus:
# the program as started (start page), then a tour of the real main window
# (host port panel with the link check box, scan dialog during a scan, a
# module panel, the About box).
#   scripts/screenshots.sh [output dir]     (default: build/screenshots)
# KELM_BUILD_DIR picks another build directory of the default preset.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/screenshots}"
build="${KELM_BUILD_DIR:-build/default}"
com=9

bash scripts/install-deps.sh
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target kelm-utility kelm-sim kelm-screenshot-tour -j "$(nproc)"
mkdir -p "$out"

# A private virtual-port directory, so the demo bus never meets a real session's ports.
ports=$(mktemp -d)
export KELM_PORTS_DIR="$ports"
simpid=""
xvfbpid=""
apppid=""
cleanup() {
  for p in $apppid $simpid $xvfbpid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$ports"
}
trap cleanup EXIT

"$build/tools/kelm-sim/kelm-sim" --demo --com "$com" --quiet &
simpid=$!
for _ in $(seq 50); do [ -e "$ports/COM$com" ] && break; sleep 0.1; done
[ -e "$ports/COM$com" ] || { echo "the simulator did not publish COM$com" >&2; exit 1; }

# Find a free display.
disp=99
while [ -e "/tmp/.X11-unix/X$disp" ] || [ -e "/tmp/.X$disp-lock" ]; do disp=$((disp + 1)); done
Xvfb ":$disp" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfbpid=$!
export DISPLAY=":$disp"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null || sleep 1
unset QT_QPA_PLATFORM

# The program itself, as a user starts it.
"$build/src/app/kelm-utility" &
apppid=$!
sleep 3
import -window root "$out/00-program.png"
kill "$apppid" 2>/dev/null || true
wait "$apppid" 2>/dev/null || true
apppid=""
echo "saved $out/00-program.png"

"$build/tests/e2e/kelm-screenshot-tour" "$out" "$com"
echo "Screenshots in $out"
