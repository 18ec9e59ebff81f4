# The command line's words and its console, sourced by scripts/test-windows:
# varnis-cli.exe under code pages 437 and 936 against the Linux build, and
# the console's output code page before and after it runs. Uses the script's
# pass/fail, win, start_sim/stop_sim, map_port/unmap_ports, $shim, $work,
# $cli_exe and $cli_linux.

# Wine takes its code pages from the locale's name and its Unix side's
# encoding from the C library, which needs the locale itself: made here,
# for this run only.
cli_locales="$work/locale"
mkdir -p "$cli_locales"
for name in en_US zh_CN; do
  localedef -i "$name" -f UTF-8 "$cli_locales/$name.UTF-8" >/dev/null 2>&1 ||
    fail "locale $name.UTF-8 for the code page cases"
done

# Every choice label the form shows, full-width colons included, as the
# words of an option; one row a run, "|" between the words.
label_rows=(
  "--mode|Mode0：Output UID number|--interface|WIEGAND|--wiegand|WIEGAND 26 bits|--timing|Default|--protection|Enable"
  "--mode|Mode1：Output sector data after KEY checking|--order|Least Significant Byte first|--key-type|KEY A|--wiegand|WIEGAND 34 bits|--timing|User-defined|--protection|Disable|--locking|Enable"
  "--mode|Mode1：Output sector data after KEY checking|--order|Most Significant Byte first|--key-type|KEY B|--wiegand|WIEGAND 42 bits"
  "--interface|ABA|--aba|8H to 10D"
  "--interface|ABA|--aba|6H to 8D"
  "--interface|ABA|--aba|6H to 10D"
  "--interface|ABA|--aba|4H+2H to 10D"
  "--interface|ABA|--aba|4H+2H to 8D"
)
# Values outside ASCII that are refused: the same message as on Linux.
non_ascii_rows=(
  "--key|café123café12"
  "--password|密码12345"
  "--interface|ABA|--aba|６H to 8D"
)
for locale in en_US.UTF-8:437 zh_CN.UTF-8:936; do
  page=${locale#*:}
  locale=${locale%:*}
  for row in "${label_rows[@]}" "${non_ascii_rows[@]}"; do
    IFS='|' read -r -a row_args <<<"$row"
    expected=$("$cli_linux" frame "${row_args[@]}" 2>&1; echo "status $?")
    got=$(env LOCPATH="$cli_locales" LANG="$locale" LC_ALL="$locale" LD_PRELOAD="$shim" timeout 120 \
      wine "$cli_exe" frame "${row_args[@]}" 2>&1 | tr -d '\r'; echo "status ${PIPESTATUS[0]}")
    if [ "$got" = "$expected" ]; then
      pass "code page $page: frame ${row//|/ }"
    else
      fail "code page $page: frame ${row//|/ }" "Linux: $(echo "$expected" | tr '\n' ' ') Windows: $(echo "$got" | tr '\n' ' ')"
    fi
  done
done

# --- the console's output code page, before and after -----------------------
# The program runs in a console on a pseudo-terminal (Wine makes no console
# for a program whose output is a pipe), under a probe that sets the page
# first and reads it back afterwards (tests/windows/win32/ConsoleCodePage.cpp).
console_probe="$work/console-code-page.exe"
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Werror -static -municode -o "$console_probe" \
  "$VARNIS_ROOT/tests/windows/win32/ConsoleCodePage.cpp" || fail "console: the probe builds"
# console_page NAME PAGE STATUS PROBE-ARGS...: the page is PAGE again after the
# program ended with STATUS.
console_page() {
  local name=$1 page=$2 status=$3; shift 3
  local report="$work/console-page.txt" want
  rm -f "$report"
  LD_PRELOAD=$shim script -qec "$(printf '%q ' timeout 120 wine "$console_probe" "$(wpath_cli "$report")" "$page" "$@")" \
    /dev/null >/dev/null 2>&1
  want="code page $page before, $page after, exit status $status"
  if [ "$(tr -d '\r' <"$report" 2>/dev/null)" = "$want" ]; then
    pass "console: $name"
  else
    fail "console: $name" "$(tr -d '\r' <"$report" 2>/dev/null | tr '\n' ' ') (want: $want)"
  fi
}
wpath_cli() { printf 'Z:%s' "${1//\//\\}"; }
console_page "code page 437 again after a normal end" 437 0 "$cli_exe" frame
console_page "code page 936 again after a refused option" 936 2 "$cli_exe" frame --key zz
console_page "code page 437 again after a port that does not exist" 437 1 "$cli_exe" make --port COM7
# Ctrl+C while a card waits for the device's result: the page is back and the
# port is free for the next program. (Wine's own handling ends the program
# with status 0 where Windows gives STATUS_CONTROL_C_EXIT.)
start_sim "$work/sim.log" --quiet --never-announce && map_port 3 "$sim_path"
console_page "code page 437 again after Ctrl+C during make" 437 0 --break-after 3000 "$cli_exe" make --port COM3 \
  --reply-timeout 60000
released=$(win "$cli_exe" ports --port COM3 2>&1 </dev/null | tr -d '\r' | sed -n 's/^ *access: //p')
[ "$released" = "can be opened" ] && pass "console: the port released after Ctrl+C during make" ||
  fail "console: the port released after Ctrl+C during make" "access: '$released'"
stop_sim
unmap_ports
