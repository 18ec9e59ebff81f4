#!/usr/bin/env bash
# check-programs.sh VERSION MAN-DIR KIND:PROGRAM...
# Each program's manual page (MAN-DIR/NAME.1) renders without a warning and
# names the program's VERSION; by KIND the program also
#   v  answers --version with "NAME VERSION" and takes --help, and both
#      fail (exit 1, one line on standard error) when standard output is lost,
#   h  takes --help,
#   p  takes no options (its page is kept by hand);
# and, for v and h, the page mentions every long option its --help lists.
set -uo pipefail
version=$1 man_dir=$2
shift 2
failures=0
fail() { echo "FAIL $name: $*"; failures=$((failures + 1)); }

for entry in "$@"; do
  kind=${entry%%:*} program=${entry#*:}
  name=$(basename "$program")
  page="$man_dir/$name.1"
  if [ ! -s "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the page renders with warnings: $warnings"
  grep -q "^\.TH .*\"$name $version\"" "$page" || fail "the page's header does not name $name $version"

  if [ "$kind" = v ]; then
    out=$("$program" --version) || fail "--version exits $?"
    [ "$out" = "$name $version" ] || fail "--version printed '$out', not '$name $version'"
    for option in --version --help; do
      err=$("$program" "$option" 2>&1 >/dev/full)
      status=$?
      [ "$status" -eq 1 ] || fail "$option into a full disk exits $status, not 1"
      [ "$(wc -l <<<"$err")" -eq 1 ] && [ -n "$err" ] || fail "$option into a full disk says '$err'"
    done
  fi
  if [ "$kind" = v ] || [ "$kind" = h ]; then
    help=$("$program" --help) || fail "--help exits $?"
    text=$(sed 's/\\-/-/g' "$page")
    for option in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
      grep -qF -- "$option" <<<"$text" || fail "the page does not mention $option"
    done
  fi
done
[ "$failures" -eq 0 ] && echo "checked: $*"
exit $((failures > 0))
