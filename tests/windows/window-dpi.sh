# The window's fonts, icons and scale, sourced by scripts/test-windows after
# tests/windows/window-tier.sh (its driver, X server, prefix and helpers):
# a start as on a Windows without the per-monitor DPI calls, the system
# menu's Chinese item, and the window at 144 DPI. Takes the screenshots
# system-menu-windows.png and main-window-windows-144dpi.png into $shots
# (build-windows/screenshots/).
[ -s "$driver" ] || return 0  # the window tier could not build its driver

# Windows draws a menu's Chinese through the fonts linked to the menu's face;
# Wine has no such link for its own menu face (Tahoma) unless one is named.
# The prefix links it to the CJK face the machine has, as Windows links its
# menu face to the Chinese faces it ships.
win reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma /t REG_MULTI_SZ \
  /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK SC' /f >/dev/null 2>&1 || fail "window: the menu face's font link"

# A Windows before 10 has neither GetDpiForWindow nor GetSystemMetricsForDpi:
# the window still shows, with its icons at the system's DPI.
blank_ports
nodpi_exe=$(winepath -w "$windows/bin/varnis_nodpi.exe" 2>/dev/null)
drive "a start without the per-monitor DPI calls" "$nodpi_exe" "$disconnected_enabled" "${end[@]}"

menu_probe="$work/system-menu.exe"
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Werror -static -o "$menu_probe" \
  "$VARNIS_ROOT/tests/windows/win32/SystemMenu.cpp" || fail "window: the system menu probe builds"

# shoot NAME FILE CROP: the window shown (connected to the device), the screen
# cut to CROP (WxH+X+Y, "window" for the window's own rectangle and 300x260
# below it, for the menu) into $shots/FILE, with the system menu open for
# "menu".
shoot() {
  local name=$1 file=$2 crop=$3 rect
  connected_with --quiet
  rm -f "$work/shown" "$work/shot-done"
  win "$driver" "$varnis_exe" "${connect[@]}" "signal|$(wpath "$work/shown")" \
    "wait-file|$(wpath "$work/shot-done")" "${end[@]}" >"$work/drive.log" 2>&1 &
  local shot_driver=$!
  wait_file "$work/shown" "$shot_driver"
  if [ "$crop" = menu ]; then
    win "$menu_probe" open >/dev/null 2>&1
    read -r -a rect <"$work/shown"
    crop="300x260+${rect[0]:-0}+${rect[1]:-0}"
  fi
  sleep 1
  rm -f "$work/$file"
  import -window root "$work/desktop.png" && convert "$work/desktop.png" -crop "$crop" +repage -trim +repage "$work/$file"
  [ "$3" = menu ] && win "$menu_probe" close >/dev/null 2>&1
  touch "$work/shot-done"
  wait "$shot_driver"
  stop_sim
  if [ -s "$work/$file" ]; then
    cp "$work/$file" "$shots/$file"
    pass "window: screenshot $shots/$file ($name)"
  else
    fail "window: screenshot $file ($name)"
  fi
}
shoot "the system menu" system-menu-windows.png menu

# At 144 DPI (150 %): the window is half as large again, on a larger screen.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/xvfb144.display" 2>/dev/null &
children+=("$!")
for _ in $(seq 50); do [ -s "$work/xvfb144.display" ] && break; sleep 0.1; done
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
export DISPLAY=":$(head -n 1 "$work/xvfb144.display")"
LD_PRELOAD=$shim wineserver -p >/dev/null 2>&1
win reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1400x1000 /f >/dev/null 2>&1
win reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
LD_PRELOAD=$shim wineserver -p >/dev/null 2>&1
serialcomm_ten || fail "window: the port list written again after the restart"
drive "at 144 DPI, every control within 3 pixels of its dialog-unit rectangle" "$varnis_exe" "positions|3" \
  "${end[@]}"
shoot "144 DPI" main-window-windows-144dpi.png 1400x1000+0+0
win reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
blank_ports
