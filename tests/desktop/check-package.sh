#!/usr/bin/env bash
# Builds the Debian package from an existing build tree with CPack (no rebuild: the package takes
# the tree's program, stripped), lets lintian judge it, unpacks it into a scratch root as dpkg
# would and runs the unpacked program.
#   check-package.sh BUILD_DIR VERSION
set -uo pipefail
build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d /tmp/talvora-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/../support/checks.sh"

if ! cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "not ok - cpack failed"
  exit 1
fi
deb=$(ls "$work"/talvora_"$version"_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "not ok - no talvora_${version}_*.deb"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for p in libqt6widgets6 libqt6multimedia6 libopus0 libpulse0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
  check "Depends on $p" grep -q "\b$p\b" <<<"$depends"
done
check "Recommends avahi-daemon and a sound server" test "$(field Recommends)" = "avahi-daemon, pulseaudio | pipewire-pulse"
check "has a long description" test "$(field Description | wc -l)" -ge 5

# Lintian's errors and warnings fail the test; its informational tags are printed only.
lintian --display-info --pedantic "$deb" >"$work/lintian.log" 2>&1
cat "$work/lintian.log"
check "lintian reports no error or warning" bash -c "! grep -E '^(E|W): ' '$work/lintian.log'"

root=$work/root
dpkg -x "$deb" "$root"
check "the program is stripped" bash -c "file -L '$root/usr/bin/talvora' | grep -q ', stripped'"
check "changelog.gz carries no name or time stamp" \
  bash -c "test \"\$(od -An -tx1 -j3 -N5 '$root/usr/share/doc/talvora/changelog.gz' | tr -d ' ')\" = 0000000000"
check "copyright in the documentation directory" test -s "$root/usr/share/doc/talvora/copyright"
got=$("$root/usr/bin/talvora" --version 2>&1)
check "unpacked talvora --version says '$got'" test "$got" = "Talvora Video Phone $version"

checks_done
