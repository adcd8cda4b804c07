#!/usr/bin/env bash
# Makes the screenshot of the AppStream metainfo: two phones with the test camera on a private X
# display call each other (the end-to-end script drives them), and the called phone's window,
# showing the caller's pictures during the call, is cut out of the screen.
#   scripts/screenshot.sh [BUILD_DIR]   -> resources/screenshots/call.png
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -x "$build/talvora" ] || bash scripts/build.sh
work=$(mktemp -d /tmp/talvora-screenshot.XXXXXX)
trap 'rm -rf "$work"' EXIT
bash scripts/testenv/two-phones.sh "$build" "$work" || true
[ -s "$work/2-connected.png" ] || { echo "screenshot: the call did not come up" >&2; exit 1; }
# two-phones.sh puts the called phone's 1000x650 window at 920,430 of its screen.
mkdir -p resources/screenshots
convert "$work/2-connected.png" -crop 1000x650+920+430 +repage -strip resources/screenshots/call.png
echo resources/screenshots/call.png
