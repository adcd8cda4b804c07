#!/usr/bin/env bash
# The manual page's OPTIONS section must say what 'talvora --help' says: the same options with
# the same texts, in the same order (word wrapping and <> around values aside).
#   check-manpage.sh PROGRAM MANPAGE
set -euo pipefail
program=$1
page=$2

# One line per option: "SYNOPSIS|DESCRIPTION", whitespace collapsed.
from_help() {
  "$program" --help | awk '
    function flush() { if (entry != "") print entry; entry = "" }
    /^Options:/ { inside = 1; next }
    !inside { next }
    /^  -/ {
      flush()
      line = substr($0, 3)
      synopsis = line; description = ""
      if (match(line, /  +/)) { synopsis = substr(line, 1, RSTART - 1); description = substr(line, RSTART + RLENGTH) }
      gsub(/[<>]/, "", synopsis)
      entry = synopsis "|" description
      next
    }
    /^ +[^ ]/ { sub(/^ +/, ""); entry = entry (entry ~ /\|$/ ? "" : " ") $0; next }
    END { flush() }'
}

from_page() {
  MANWIDTH=200 MAN_KEEP_FORMATTING=0 man --nh --nj -l "$page" 2>/dev/null | col -bx | awk '
    function flush() { if (entry != "") print entry; entry = "" }
    /^[A-Z]/ { flush(); inside = ($0 == "OPTIONS"); next }
    !inside { next }
    /^       -/ { flush(); sub(/^ +/, ""); entry = $0 "|"; next }
    /^ +[^ ]/ { sub(/^ +/, ""); entry = entry (entry ~ /\|$/ ? "" : " ") $0; next }
    END { flush() }'
}

help=$(from_help)
manual=$(from_page)
if [ -z "$help" ] || [ -z "$manual" ]; then
  echo "not ok - could not read the options (help: ${#help} bytes, manual page: ${#manual} bytes)"
  exit 1
fi
if ! diff <(echo "$help") <(echo "$manual"); then
  echo "not ok - the manual page's OPTIONS differ from --help (< help, > manual page)"
  exit 1
fi
echo "ok - the manual page describes the $(echo "$help" | wc -l) options of --help"
