#!/usr/bin/env bash
# Installs every package the project needs to build, run and test on Debian 12.
# The one list of dependencies: the README and CI both come through here.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev clang-format
  # Qt 6 (widgets, test, charts and the OpenGL module files its CMake package needs,
  # translation tools) and QSerialPort for the serial benchmark
  qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-serialport-dev libgl-dev
  qt6-charts-dev libqt6opengl6-dev qt6-l10n-tools qt6-tools-dev
  # command line parsing and JSON for kelm
  libcli11-dev nlohmann-json3-dev
  # port enumeration
  libudev-dev
  # test and benchmark frameworks
  libgtest-dev libgmock-dev libbenchmark-dev
  # independent Modbus peers for the tests
  libmodbus-dev mbpoll python3 python3-pymodbus python3-serial python3-serial-asyncio socat
  # serial device servers in front of the simulator (raw TCP and RFC 2217)
  ser2net
  # the Windows cross build of the Qt-free part, tested under wine
  g++-mingw-w64-x86-64-posix wine wine64
  # headless GUI, screenshots, Chinese text
  xvfb xauth x11-apps imagemagick fonts-wqy-microhei
  # the Debian package (CPack's shlibdeps) and its checks: lintian, the desktop
  # entry, AppStream, manual pages, the installed window under Xvfb
  dpkg-dev lintian desktop-file-utils appstream man-db file x11-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
