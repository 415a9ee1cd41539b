#!/usr/bin/env bash
# Installs the dependencies, builds every preset and runs all tests:
#   default  - every test (GUI ones on the offscreen platform)
#   asan     - every test under AddressSanitizer + UBSan, plus a short fuzzing run
#   tsan     - the library and tool tests under ThreadSanitizer
# Usage: scripts/test.sh [preset...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan)

jobs=$(nproc)
for p in "${presets[@]}"; do
  echo "=== preset $p ==="
  cmake --preset "$p"
  cmake --build --preset "$p" -j "$jobs"
  ctest --preset "$p" -j "$jobs"
done
