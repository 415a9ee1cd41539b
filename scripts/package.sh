#!/usr/bin/env bash
# Builds the Debian package from this checkout (a fresh clone is enough):
# installs the dependencies, builds the default preset and packs it with
# CPack. Prints the path of build/default/kelm-utility_<version>_<arch>.deb;
# install it with
#   sudo apt-get install ./build/default/kelm-utility_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake --preset default
cmake --build --preset default -j "$(nproc)" --target package

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/default/CMakeCache.txt)
deb=build/default/kelm-utility_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
  echo "The build did not produce $deb." >&2
  exit 1
fi
echo "$deb"
