#!/usr/bin/env bash
# Installs the dependencies, builds the program and starts it.
# Without --no-sim, and when no COM number is given, the simulator's demo bus is
# started on a virtual port first, so that a first scan finds modules.
#   scripts/start.sh [--no-sim] [--com N]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake --preset default
cmake --build --preset default -j "$(nproc)"

sim=1
com=9
while [ $# -gt 0 ]; do
  case "$1" in
    --no-sim) sim=0 ;;
    --com) com="$2"; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

app=build/default/src/app/kelm-utility
simbin=build/default/tools/kelm-sim/kelm-sim
if [ ! -x "$app" ]; then
  echo "The build did not produce $app." >&2
  exit 1
fi

simpid=""
cleanup() { [ -n "$simpid" ] && kill "$simpid" 2>/dev/null || true; }
trap cleanup EXIT
if [ "$sim" = 1 ] && [ -x "$simbin" ]; then
  "$simbin" --demo --com "$com" --quiet &
  simpid=$!
  # The program lists its ports once, at start: wait until the simulator has
  # published its port (up to 5 s).
  ports=build/default/tools/kelm-ports/kelm-ports
  for _ in $(seq 50); do
    [ -x "$ports" ] || { sleep 0.5; break; }
    "$ports" 2>/dev/null | grep -q "COM$com\b" && break
    sleep 0.1
  done
  echo "Simulated demo bus on COM$com (9600 baud, no parity, 2 stop bits, RTU)."
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under Xvfb."
  exec_prefix=(xvfb-run -a)
else
  exec_prefix=()
fi
"${exec_prefix[@]}" "$app"
