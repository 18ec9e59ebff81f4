#!/bin/sh
# varnis-options.sh VARNIS VERSION: the window program answers --help and
# --version and refuses any other argument with one line and exit status 2,
# all without a display; without one it does not start the window.
set -u
varnis=$1 version=$2
fail=0
errfile=$(mktemp) || exit 1
trap 'rm -f "$errfile"' EXIT
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; fail=1; fi
}
run() {  # run ARGS...: sets out, err, status
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$varnis" "$@" 2>"$errfile")
  status=$?
  err=$(cat "$errfile")
}
run --version
check "--version" "0 varnis $version" "$status $out"
run --help
check "--help status" 0 "$status"
check "--help first line" "Usage: varnis [--help | --version]" "$(printf '%s\n' "$out" | head -n 1)"
for arg in --bogus -platform file.txt; do
  run "$arg"
  check "$arg status" 2 "$status"
  check "$arg lines on standard error" 1 "$(printf '%s\n' "$err" | wc -l)"
  check "$arg named" yes "$(printf '%s' "$err" | grep -q -- "'$arg'" && echo yes)"
done
run
check "no display: status" 1 "$status"
check "no display: one line" 1 "$(printf '%s\n' "$err" | wc -l)"
exit $fail
