#!/usr/bin/env bash
# Installs the build into a temporary prefix, as a packager or 'sudo cmake --install' would, and
# checks the tree: the program, its menu entry, metainfo, icons and manual page, each where
# desktops and tools look for them, and an installed program that runs.
#   check-install.sh BUILD_DIR APP_ID VERSION
set -uo pipefail
build=$1
id=$2
version=$3
work=$(mktemp -d /tmp/talvora-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/../support/checks.sh"

prefix=$work/usr
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "not ok - cmake --install failed"
  exit 1
fi

png_size() { # png_size FILE -> "WIDTHxHEIGHT"
  identify -format '%wx%h' "$1" 2>/dev/null
}
for f in bin/talvora share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
  share/icons/hicolor/256x256/apps/$id.png share/man/man1/talvora.1.gz \
  share/doc/talvora/copyright share/doc/talvora/changelog.gz; do
  check "installs $f" test -s "$prefix/$f"
done
check "the program is executable" test -x "$prefix/bin/talvora"
check "48x48 icon is 48x48" test "$(png_size "$prefix/share/icons/hicolor/48x48/apps/$id.png")" = 48x48
check "256x256 icon is 256x256" test "$(png_size "$prefix/share/icons/hicolor/256x256/apps/$id.png")" = 256x256

# Nothing outside the places above: a stray file would end up in the package too.
unexpected=$(cd "$prefix" && find . -type f | sed 's|^\./||' | grep -Ev \
  "^(bin/talvora|share/applications/$id\.desktop|share/metainfo/$id\.metainfo\.xml|share/icons/hicolor/(scalable|48x48|256x256)/apps/$id\.(svg|png)|share/man/man1/talvora\.1\.gz|share/doc/talvora/(copyright|changelog\.gz))$")
check "installs nothing else${unexpected:+ (found: $unexpected)}" test -z "$unexpected"

# The entry starts the installed program and shows the installed icon.
entry=$prefix/share/applications/$id.desktop
check "desktop entry runs talvora" grep -qx 'Exec=talvora' "$entry"
check "desktop entry names the icon by the application id" grep -qx "Icon=$id" "$entry"
check "desktop entry matches the windows' class" grep -qx 'StartupWMClass=talvora' "$entry"
check "metainfo launches the desktop entry" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
  "$prefix/share/metainfo/$id.metainfo.xml"
newest=$(grep -o '<release version="[^"]*"' "$prefix/share/metainfo/$id.metainfo.xml" | head -1 | cut -d'"' -f2)
check "metainfo's newest release is $version (found $newest)" test "$newest" = "$version"
check "manual page formats without warnings" \
  bash -c "zcat '$prefix/share/man/man1/talvora.1.gz' | groff -man -ww -z -Tutf8 2>&1 | (! grep .)"

# The installed program runs from where it was installed (no file of the build tree needed).
got=$("$prefix/bin/talvora" --version 2>&1)
check "installed talvora --version says '$got'" test "$got" = "Talvora Video Phone $version"

checks_done
