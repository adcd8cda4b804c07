# The checks of the test scripts, sourced: each prints "ok - NAME" or "not ok - NAME", and
# checks_done prints the count and fails when any check failed.
failures=0
passes=0

check() { # check NAME COMMAND...
  if "${@:2}"; then
    echo "ok - $1"; passes=$((passes + 1))
  else
    echo "not ok - $1"; failures=$((failures + 1))
  fi
}

checks_done() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
