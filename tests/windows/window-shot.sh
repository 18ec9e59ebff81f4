#!/usr/bin/env bash
# The window's screenshots, connected to the device, into build-windows/
# screenshots/ (scripts/screenshot --windows copies them into docs/):
#   window-shot.sh main|menu|dpi144
# main: the window, the desktop trimmed away; menu: the system menu open, its
# Chinese item drawn; dpi144: the window on the desktop at 144 DPI.
source "$(dirname "$0")/tier.sh"
mkdir -p "$shots"
case "${1:-}" in
  main) file=main-window-windows.png crop=960x720+0+0 ;;
  menu)
    file=system-menu-windows.png crop=menu
    # Windows draws a menu's Chinese through the fonts linked to the menu's
    # face; Wine has no such link for its own menu face (Tahoma) unless one
    # is named. The prefix links it to the CJK face the machine has, as
    # Windows links its menu face to the Chinese faces it ships.
    win reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma /t REG_MULTI_SZ \
      /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK SC' /f >/dev/null 2>&1 || fail "window: the menu face's font link" ;;
  dpi144) file=main-window-windows-144dpi.png crop=1400x1000+0+0 ;;
  *) echo "window-shot.sh: no shot '${1:-}'" >&2; exit 2 ;;
esac

connected_with --quiet
win "$driver" "$varnis_exe" "${connect[@]}" "signal|$(wpath "$work/shown")" \
  "wait-file|$(wpath "$work/shot-done")" "${end[@]}" >"$work/drive.log" 2>&1 &
shot_driver=$!
wait_file "$work/shown" "$shot_driver"
if [ "$crop" = menu ]; then
  # The window's rectangle, and 300x260 from its corner, the menu below it.
  win "$probes/system-menu.exe" open >/dev/null 2>&1
  read -r -a rect <"$work/shown"
  crop="300x260+${rect[0]:-0}+${rect[1]:-0}"
fi
sleep 1
# The virtual desktop at the screen's corner, trimmed of its plain background
# down to what is shown.
import -window root "$work/desktop.png" && convert "$work/desktop.png" -crop "$crop" +repage -trim +repage "$work/$file"
[ "$1" = menu ] && win "$probes/system-menu.exe" close >/dev/null 2>&1
touch "$work/shot-done"
wait "$shot_driver"
if [ -s "$work/$file" ]; then
  cp "$work/$file" "$shots/$file"
  pass "window: screenshot $shots/$file"
else
  fail "window: screenshot $file"
fi
verdict
