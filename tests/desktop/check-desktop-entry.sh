#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate without an error, a warning or a hint.
#   check-desktop-entry.sh DESKTOP_FILE
set -uo pipefail
out=$(desktop-file-validate "$1" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
  echo "$out"
  echo "not ok - desktop-file-validate complains"
  exit 1
fi
echo "ok - desktop entry is valid"
