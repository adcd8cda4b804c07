#!/usr/bin/env bash
# Formats every C++ source and header in src/, tests/, bench/ and fuzz/ in place with the
# repository's .clang-format.
#   scripts/format.sh           format in place
#   scripts/format.sh --check   change nothing; list the files that are not formatted and fail
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' files < <(find src tests bench fuzz -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ "${1:-}" != "--check" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

# One run over all files; each place that differs is reported as "FILE:LINE:COLUMN: error: ...".
status=0
report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1) || status=$?
mapfile -t unformatted < <(printf '%s\n' "$report" |
  sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*clang-format-violations.*/\1/p' | sort -u)
if [ $status -ne 0 ] && [ ${#unformatted[@]} -eq 0 ]; then
  printf '%s\n' "$report" >&2
  echo "format: clang-format failed" >&2
  exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format: ${#unformatted[@]} of ${#files[@]} files differ from .clang-format ($(clang-format --version)):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "format: run scripts/format.sh to format them in place, then commit the result" >&2
  exit 1
fi
echo "format: all ${#files[@]} files follow .clang-format"
