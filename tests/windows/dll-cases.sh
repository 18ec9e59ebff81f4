#!/usr/bin/env bash
# DLLs planted next to the Windows programs:
#   dll-cases.sh control|imports|cli|window
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
# msimg32 at all); varnis-cli.exe has it planted. The window's case runs on
# the tier's desktop.
source "$(dirname "$0")/tier.sh"
planted_names=(version uxtheme dwmapi cfgmgr32 setupapi comctl32 shell32 user32 gdi32 imm32 oleaut32 oleacc
  shcore shlwapi winmm userenv profapi cryptbase dbghelp wintrust crypt32 usp10 propsys windowscodecs win32u zlib1)
known=(KERNEL32.dll msvcrt.dll ADVAPI32.dll)
dir=$work/planted
mkdir -p "$dir"

# plant [NAME...]: the marker under every planted name (and each NAME) in $dir.
plant() {
  local name
  for name in "${planted_names[@]}" "$@"; do cp "$probes/marker.dll" "$dir/$name.dll"; done
}
marks() { (cd "$dir" && ls -- *.ran 2>/dev/null | tr '\n' ' '); }
# planted_win PROGRAM ARGS...: PROGRAM (copied into $dir) under Wine with a
# native DLL preferred for every name planted.
planted_win() {
  local program=$1; shift
  cp "$program" "$dir/"
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${planted_names[*]},msimg32=n,b")" \
    win "$dir/$(basename "$program")" "$@"
}

case "${1:-}" in
  control)  # loaded by name without a restricted search, the plant runs
    plant
    planted_win "$probes/plant-probe.exe" version.dll uxtheme.dll >/dev/null 2>&1
    both_ran() { [[ "$1" == *version.dll.ran* && "$1" == *uxtheme.dll.ran* ]]; }
    check "dll: a plant runs in a program that does not restrict its search" "marks: '$(marks)'" both_ran "$(marks)" ;;
  imports)
    for program in varnis-cli.exe varnis.exe; do
      imports=$(x86_64-w64-mingw32-objdump -p "$windows/bin/$program" | awk '/DLL Name:/ { print $3 }')
      unknown=$(grep -vxF -f <(printf '%s\n' "${known[@]}") <<<"$imports" | tr '\n' ' ')
      check "dll: $program imports only KnownDLLs before main" "also $unknown" test -z "$unknown"
    done ;;
  cli)
    plant msimg32
    out=$(planted_win "$cli_exe" --version 2>&1 | tr -d '\r')
    [ "$out" = "varnis-cli $("$cli_linux" --version | cut -d' ' -f2)" ] ||
      fail "dll: varnis-cli.exe --version beside the plant" "'$out'"
    planted_win "$cli_exe" ports >"$work/ports.txt" 2>&1
    grep -q '^COM1' "$work/ports.txt" || fail "dll: varnis-cli.exe ports beside the plant" "$(head -c 300 "$work/ports.txt")"
    planted_win "$cli_exe" frame --mode sector --key-file - <<<"001122334455" >/dev/null 2>&1 ||
      fail "dll: varnis-cli.exe frame beside the plant"
    check "dll: no plant runs in varnis-cli.exe (--version, ports, frame)" "marks: $(marks)" test -z "$(marks)" ;;
  window)  # for 15 s: still up when the time is over (a window that failed to come up would prove nothing)
    plant
    cp "$windows/bin/varnis.exe" "$dir/"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${planted_names[*]},msimg32=n,b")" LD_PRELOAD="$shim" \
      timeout 15 wine "$dir/varnis.exe" >"$work/window.log" 2>&1
    status=$?
    check "dll: no plant runs in varnis.exe (the window, 15 s)" \
      "status $status (124: still up after 15 s), marks: '$(marks)'" test "$status" -eq 124 -a -z "$(marks)" ;;
  *) echo "dll-cases.sh: no case '${1:-}'" >&2; exit 2 ;;
esac
verdict
