# shellcheck shell=bash
# DLLs planted next to the Windows programs, sourced by scripts/test-windows
# (which gives pass, fail, win, $work, $windows and this run's WINEPREFIX).
#
# A marker DLL (win32/MarkerDll.c) is copied next to each program under the
# names of system DLLs it or the system loads, and Wine is told to prefer a
# native DLL for each of them: its search then reaches the program's folder
# first, as Windows' standard search does. The marker must run in neither
# program, whether before main (the import table) or after (what is loaded
# at run time). A program that does not restrict its search shows the plant
# at work (win32/PlantProbe.c).
#
# Not planted: KERNEL32, msvcrt and ADVAPI32, the whole of the programs'
# import tables (checked here too), with ole32: KnownDLLs, which Windows
# takes from System32 whatever the search, and which Wine's loader does not
# model. Nor, for the window, msimg32: Wine's own comctl32 and imm32 load it
# and ole32 through a delay-load of their own that does not honour the
# program's SetDefaultDllDirectories (Windows' comctl32 does not import
# msimg32 at all); varnis-cli.exe has it planted.

dll_planted_names=(version uxtheme dwmapi cfgmgr32 setupapi comctl32 shell32 user32 gdi32 imm32 oleaut32 oleacc
  shcore shlwapi winmm userenv profapi cryptbase dbghelp wintrust crypt32 usp10 propsys windowscodecs win32u zlib1)
dll_known=(KERNEL32.dll msvcrt.dll ADVAPI32.dll)

# dll_plant DIR [NAME...]: the marker under every planted name (and each
# NAME) in DIR, no mark yet.
dll_plant() {
  local dir=$1 name; shift
  rm -f "$dir"/*.ran "$dir"/*.dll
  for name in "${dll_planted_names[@]}" "$@"; do cp "$work/marker.dll" "$dir/$name.dll"; done
}
dll_marks() { (cd "$1" && ls -- *.ran 2>/dev/null | tr '\n' ' '); }
# dll_win DIR PROGRAM ARGS...: PROGRAM (in DIR) under Wine with a native DLL
# preferred for every name planted.
dll_native() { (IFS=,; echo "${dll_planted_names[*]},msimg32=n,b"); }
dll_win() {
  local dir=$1 program=$2; shift 2
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(dll_native)" win "$dir/$program" "$@"
}

dll_cases() {
  local dir="$work/planted" program imports unknown marks status
  mkdir -p "$dir"
  x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -shared -nostdlib -e MarkerEntry -o "$work/marker.dll" \
    "$VARNIS_ROOT/tests/windows/win32/MarkerDll.c" -lkernel32 || { fail "dll: the marker builds"; return; }
  x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -municode -o "$dir/plant-probe.exe" \
    "$VARNIS_ROOT/tests/windows/win32/PlantProbe.c" || { fail "dll: the probe builds"; return; }

  # The control: loaded by name without a restricted search, the plant runs.
  dll_plant "$dir"
  dll_win "$dir" plant-probe.exe version.dll uxtheme.dll >/dev/null 2>&1
  marks=$(dll_marks "$dir")
  local control="dll: a plant runs in a program that does not restrict its search"
  [[ "$marks" == *version.dll.ran* && "$marks" == *uxtheme.dll.ran* ]] && pass "$control" || fail "$control" "marks: '$marks'"

  for program in varnis-cli.exe varnis.exe; do
    cp "$windows/bin/$program" "$dir/"
    imports=$(x86_64-w64-mingw32-objdump -p "$dir/$program" | awk '/DLL Name:/ { print $3 }')
    unknown=$(grep -vxF -f <(printf '%s\n' "${dll_known[@]}") <<<"$imports" | tr '\n' ' ')
    [ -z "$unknown" ] && pass "dll: $program imports only KnownDLLs before main" \
      || fail "dll: $program imports only KnownDLLs before main" "also $unknown"
  done

  dll_plant "$dir" msimg32
  local out
  out=$(dll_win "$dir" varnis-cli.exe --version 2>&1 | tr -d '\r')
  [ "$out" = "varnis-cli $("$cli_linux" --version | cut -d' ' -f2)" ] || fail "dll: varnis-cli.exe --version beside the plant" "'$out'"
  dll_win "$dir" varnis-cli.exe ports >"$work/dll-ports.txt" 2>&1
  grep -q '^COM1' "$work/dll-ports.txt" || fail "dll: varnis-cli.exe ports beside the plant" "$(head -c 300 "$work/dll-ports.txt")"
  dll_win "$dir" varnis-cli.exe frame --mode sector --key-file - <<<"001122334455" >/dev/null 2>&1 \
    || fail "dll: varnis-cli.exe frame beside the plant"
  marks=$(dll_marks "$dir")
  [ -z "$marks" ] && pass "dll: no plant runs in varnis-cli.exe (--version, ports, frame)" \
    || fail "dll: no plant runs in varnis-cli.exe" "marks: $marks"
}

# dll_window_case: the window, for 15 s on the window tier's X server and
# desktop (run after tests/windows/window-tier.sh); it is still up when the
# time is over (a window that failed to come up would prove nothing).
dll_window_case() {
  local dir="$work/planted" marks status
  [ -f "$work/marker.dll" ] || { fail "dll: no plant runs in varnis.exe" "no marker"; return; }
  cp "$windows/bin/varnis.exe" "$dir/"
  dll_plant "$dir"
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(dll_native)" LD_PRELOAD="$shim" timeout 15 wine "$dir/varnis.exe" \
    >"$work/dll-window.log" 2>&1
  status=$?
  marks=$(dll_marks "$dir")
  [ "$status" -eq 124 ] && [ -z "$marks" ] && pass "dll: no plant runs in varnis.exe (the window, 15 s)" \
    || fail "dll: no plant runs in varnis.exe" "status $status (124: still up after 15 s), marks: '$marks'"
}
