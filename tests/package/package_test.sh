#!/usr/bin/env bash
# The Debian package end to end: packs this build tree with cpack, checks the
# package's files and control fields, lintian, the desktop entry, the
# AppStream metadata and the manual pages, installs it with apt-get, starts
# the installed kelm-utility under Xvfb beside the installed kelm-sim --demo,
# sees its window, and purges the package again, checking that nothing of it
# is left. Needs root (or sudo without a password) for apt-get.
#   package_test.sh <build dir> <version>
set -euo pipefail

build=$1
version=$2
pkg=kelm-utility
app_id=com.kelm_io.kelm_utility
arch=$(dpkg --print-architecture)
deb_name=${pkg}_${version}_${arch}.deb
icon_sizes=(16 22 24 32 48 64 128 256 512)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }
# expect <what> <got> <wanted>
expect() { [ "$2" = "$3" ] || fail "$1: got '$2', wanted '$3'"; }
# wait_for <seconds> <what> <command...>: polls, generous for a loaded machine.
wait_for() {
  local secs=$1 what=$2
  shift 2
  local i
  for ((i = 0; i < secs * 10; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "timed out after ${secs}s waiting for $what"
}

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif sudo -n true 2>/dev/null; then
  SUDO=(sudo -n)
else
  echo "SKIP: installing the package needs root or sudo without a password" >&2
  exit 77
fi
apt_get() {
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"
}

tmp=$(mktemp -d /tmp/kelm-package-test.XXXXXX)
# apt's download sandbox user reads the .deb from here.
chmod 755 "$tmp"
installed=0
pids=()
cleanup() {
  local rc=$?
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ "$installed" = 1 ]; then
    echo "cleanup: purging $pkg" >&2
    apt_get purge "$pkg" >/dev/null 2>&1 || echo "cleanup: purging $pkg failed" >&2
  fi
  rm -rf "$tmp"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------- the package
step "cpack"
cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; fail "cpack failed"; }
deb=$tmp/out/$deb_name
[ -f "$deb" ] || { ls -l "$tmp/out"; fail "cpack made no $deb_name"; }
chmod 644 "$deb"

step "control fields"
field() { dpkg-deb -f "$deb" "$1"; }
expect Package "$(field Package)" "$pkg"
expect Version "$(field Version)" "$version"
expect Architecture "$(field Architecture)" "$arch"
expect Section "$(field Section)" electronics
expect Priority "$(field Priority)" optional
expect Homepage "$(field Homepage)" https://www.kelm-io.com
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^@\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[[ "$(field Installed-Size)" =~ ^[0-9]+$ ]] || fail "Installed-Size: $(field Installed-Size)"
[ -n "$(field Description | head -1)" ] || fail "no synopsis"
[ "$(field Description | wc -l)" -gt 1 ] || fail "no extended description"
# shlibdeps found the libraries of all three programs; the font is ours.
depends=$(field Depends)
for d in fonts-wqy-microhei libc6 libstdc++6 libgcc-s1 libqt6core6 libqt6gui6 libqt6widgets6 libudev1; do
  [[ ", $depends," == *", $d"[\ ,]* ]] || fail "Depends lacks $d: $depends"
done

step "file list"
# Every entry owned by root; directories and programs 755, data 644.
dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | sort -k3 >"$tmp/contents"
{
  for d in ./usr/ ./usr/bin/ ./usr/share/ ./usr/share/applications/ ./usr/share/doc/ \
    ./usr/share/doc/kelm-utility/ ./usr/share/icons/ ./usr/share/icons/hicolor/ \
    ./usr/share/man/ ./usr/share/man/man1/ ./usr/share/metainfo/ \
    ./usr/share/bash-completion/ ./usr/share/bash-completion/completions/; do
    echo "drwxr-xr-x root/root $d"
  done
  for s in "${icon_sizes[@]}"; do
    echo "drwxr-xr-x root/root ./usr/share/icons/hicolor/${s}x${s}/"
    echo "drwxr-xr-x root/root ./usr/share/icons/hicolor/${s}x${s}/apps/"
    echo "-rw-r--r-- root/root ./usr/share/icons/hicolor/${s}x${s}/apps/kelm-utility.png"
  done
  for p in kelm-utility kelm kelm-sim kelm-ports; do
    echo "-rwxr-xr-x root/root ./usr/bin/$p"
    echo "-rw-r--r-- root/root ./usr/share/man/man1/$p.1.gz"
  done
  echo "-rw-r--r-- root/root ./usr/share/bash-completion/completions/kelm"
  echo "-rw-r--r-- root/root ./usr/share/applications/$app_id.desktop"
  echo "-rw-r--r-- root/root ./usr/share/doc/kelm-utility/changelog.gz"
  echo "-rw-r--r-- root/root ./usr/share/doc/kelm-utility/copyright"
  echo "-rw-r--r-- root/root ./usr/share/metainfo/$app_id.metainfo.xml"
} | sort -k3 >"$tmp/contents.expected"
diff -u "$tmp/contents.expected" "$tmp/contents" || fail "the package's files differ (- wanted, + found)"

dpkg-deb -x "$deb" "$tmp/root"
for p in kelm-utility kelm kelm-sim kelm-ports; do
  file -b "$tmp/root/usr/bin/$p" | grep -q ', stripped' || fail "$p is not stripped"
done
for s in "${icon_sizes[@]}"; do
  file -b "$tmp/root/usr/share/icons/hicolor/${s}x${s}/apps/kelm-utility.png" |
    grep -q "PNG image data, $s x $s," || fail "icon ${s}x${s} has another size"
done
# The changelog and the AppStream release both name this version.
zcat "$tmp/root/usr/share/doc/kelm-utility/changelog.gz" >"$tmp/changelog"
expect "changelog version" "$(dpkg-parsechangelog -l "$tmp/changelog" -S Version)" "$version"
grep -q "<release version=\"$version\"" "$tmp/root/usr/share/metainfo/$app_id.metainfo.xml" ||
  fail "metainfo has no release $version"

step "lintian"
# As root lintian would still unpack into a private directory: no difference.
lintian --fail-on error,warning --display-info --no-tag-display-limit "$deb" >"$tmp/lintian.log" 2>&1 ||
  { cat "$tmp/lintian.log"; fail "lintian found errors or warnings"; }
cat "$tmp/lintian.log"

step "desktop entry"
desktop=$tmp/root/usr/share/applications/$app_id.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
entry() { sed -n "s/^$1=//p" "$desktop"; }
expect Name "$(entry Name)" KELM-Utility
entry 'Name\[zh_CN\]' | grep -qP '[^\x00-\x7F]' || fail "Name[zh_CN] is not Chinese: $(entry 'Name\[zh_CN\]')"
expect Exec "$(entry Exec)" kelm-utility
expect Icon "$(entry Icon)" kelm-utility
expect Terminal "$(entry Terminal)" false

step "AppStream"
appstreamcli validate --no-net --pedantic --no-color "$tmp/root/usr/share/metainfo/$app_id.metainfo.xml" \
  >"$tmp/appstream.log" 2>&1 || { cat "$tmp/appstream.log"; fail "appstreamcli validate"; }
# Clean means not even a pedantic note.
grep -qE '^[EWIP]: ' "$tmp/appstream.log" && { cat "$tmp/appstream.log"; fail "appstreamcli has remarks"; }
appstreamcli validate-tree --no-net --pedantic --no-color "$tmp/root" >"$tmp/appstream-tree.log" 2>&1 ||
  { cat "$tmp/appstream-tree.log"; fail "appstreamcli validate-tree"; }
grep -qE '^[EWIP]: ' "$tmp/appstream-tree.log" && { cat "$tmp/appstream-tree.log"; fail "appstreamcli validate-tree has remarks"; }

step "manual pages"
for p in kelm-utility kelm kelm-sim kelm-ports; do
  page=$tmp/root/usr/share/man/man1/$p.1.gz
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$tmp/$p.man" 2>"$tmp/$p.man.err" ||
    fail "man $p failed"
  [ ! -s "$tmp/$p.man.err" ] || { cat "$tmp/$p.man.err"; fail "man $p: warnings"; }
  grep -q "kelm-utility $version" "$tmp/$p.man" || fail "man $p does not name version $version"
done

# ---------------------------------------------------------------- installed
step "install"
if dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null | grep -qv '^not-installed$'; then
  fail "$pkg is already installed on this machine; remove it first (apt-get purge $pkg)"
fi
# What exists before, so that the purge may leave exactly that.
sed 's/^[^ ]* [^ ]* \.//; s#/$##; /^$/d' "$tmp/contents" >"$tmp/paths"
while read -r f; do
  if [ -e "$f" ]; then
    [ -d "$f" ] || fail "$f exists before the install and would be overwritten"
    echo "$f"
  fi
done <"$tmp/paths" >"$tmp/existed"
installed=1
apt_get install --no-install-recommends "$deb" >"$tmp/apt-install.log" 2>&1 ||
  { cat "$tmp/apt-install.log"; fail "apt-get install failed"; }
expect "status" "$(dpkg-query -W -f='${db:Status-Abbrev}' "$pkg")" "ii "
dpkg -L "$pkg" | sort >"$tmp/dpkg-list"
while read -r f; do
  grep -qxF "$f" "$tmp/dpkg-list" || fail "dpkg -L $pkg lacks $f"
  [ -e "$f" ] || fail "$f is not on the disk"
done <"$tmp/paths"

step "installed --help against the manual pages"
for p in kelm-sim kelm-ports; do
  "/usr/bin/$p" --help >"$tmp/$p.help" || fail "$p --help failed"
  opts=$(grep -oE -- '--[a-z][a-z-]*' "$tmp/$p.help" | sort -u)
  [ -n "$opts" ] || fail "$p --help names no options"
  for o in $opts; do
    grep -qF -- "$o" "$tmp/$p.man" || fail "man $p does not document $o"
  done
done
for c in ports scan find info set; do
  /usr/bin/kelm "$c" --help >"$tmp/kelm-$c.help" || fail "kelm $c --help failed"
  for o in $(grep -oE -- '--[a-z][a-z-]*' "$tmp/kelm-$c.help" | sort -u); do
    grep -qF -- "$o" "$tmp/kelm.man" || fail "man kelm does not document $o (kelm $c)"
  done
done
# The completion is where bash-completion looks for it, and registers kelm.
bash -c 'source /usr/share/bash-completion/completions/kelm && complete -p kelm' >/dev/null ||
  fail "the installed bash completion does not register kelm"

step "installed kelm-utility beside installed kelm-sim --demo under Xvfb"
# Private port directory and runtime directory: no other test sees COM9.
export KELM_PORTS_DIR=$tmp/ports
export XDG_RUNTIME_DIR=$tmp/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
/usr/bin/kelm-sim --demo --com 9 --quiet >"$tmp/sim.log" 2>&1 &
simpid=$!
pids+=("$simpid")
sim_listed() { /usr/bin/kelm-ports | grep -qP '^9\tCOM9\b'; }
wait_for 20 "the installed kelm-ports to list the simulator's COM9" sim_listed
# The installed command line finds the demo bus on it.
/usr/bin/kelm scan --port COM9 --to 10 --timeout 1000 --json >"$tmp/kelm-scan.json" 2>"$tmp/kelm-scan.err" ||
  { cat "$tmp/kelm-scan.err"; fail "installed kelm scan of COM9 failed"; }
expect "modules kelm scan found on COM9" \
  "$(grep -oE '"address":[0-9]+' "$tmp/kelm-scan.json" | tr '\n' ' ')" \
  '"address":1 "address":2 "address":3 "address":4 "address":5 "address":6 "address":7 "address":8 '

# -displayfd: Xvfb picks a free display itself, so parallel runs never clash.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=("$!")
wait_for 30 "Xvfb to start" test -s "$tmp/display"
display=:$(head -1 "$tmp/display")
QT_QPA_PLATFORM=xcb DISPLAY=$display /usr/bin/kelm-utility >"$tmp/app.log" 2>&1 &
apppid=$!
pids+=("$apppid")
find_window() {
  kill -0 "$apppid" 2>/dev/null || { cat "$tmp/app.log"; fail "kelm-utility exited"; }
  wid=$(xwininfo -display "$display" -root -tree 2>/dev/null |
    grep -F '"KELM-Utility(V1.00)"' | awk '{ print $1; exit }')
  [ -n "$wid" ] && xwininfo -display "$display" -id "$wid" | grep -q 'Map State: IsViewable'
}
wait_for 60 "the window \"KELM-Utility(V1.00)\"" find_window
expect "program" "$(readlink "/proc/$apppid/exe")" /usr/bin/kelm-utility
xprop -display "$display" -id "$wid" _NET_WM_PID WM_CLASS >"$tmp/xprop"
grep -qx "_NET_WM_PID(CARDINAL) = $apppid" "$tmp/xprop" || { cat "$tmp/xprop"; fail "the window is not kelm-utility's"; }
# The desktop entry's StartupWMClass ties the window to its menu entry.
wmclass=$(entry StartupWMClass)
grep -q "^WM_CLASS(STRING) = .*\"$wmclass\"" "$tmp/xprop" || { cat "$tmp/xprop"; fail "WM_CLASS is not $wmclass"; }
geometry=$(xwininfo -display "$display" -id "$wid" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
expect "window size" "$geometry" 1114x631
sleep 1
kill -0 "$apppid" 2>/dev/null || fail "kelm-utility exited after showing its window"
kill -0 "$simpid" 2>/dev/null || fail "kelm-sim exited"

kill "$apppid"
wait "$apppid" || true
kill "$simpid"
sim_rc=0
wait "$simpid" || sim_rc=$?
expect "kelm-sim exit status" "$sim_rc" 0
[ ! -e "$KELM_PORTS_DIR/COM9" ] && [ ! -L "$KELM_PORTS_DIR/COM9" ] || fail "kelm-sim left its COM9 link"

# ---------------------------------------------------------------- removed
step "purge"
apt_get purge "$pkg" >"$tmp/apt-purge.log" 2>&1 || { cat "$tmp/apt-purge.log"; fail "apt-get purge failed"; }
installed=0
if dpkg -L "$pkg" >/dev/null 2>&1; then fail "dpkg still lists files of $pkg"; fi
status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || echo not-installed)
expect "status after purge" "$status" not-installed
while read -r f; do
  [ -n "$f" ] || continue
  grep -qxF "$f" "$tmp/existed" && continue
  [ ! -e "$f" ] || fail "$f is left after the purge"
done <"$tmp/paths"
echo "package test passed: $deb_name"
