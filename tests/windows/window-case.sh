#!/usr/bin/env bash
# The window's cases: varnis.exe under Wine on the tier's X server, driven
# from outside (tests/windows/WindowDriver.cpp), against the simulated device
# on COM3; COM1 is the desktop fixture's device that never answers, COM2 and
# COM4 to COM10 do not exist.
#   window-case.sh CASE
source "$(dirname "$0")/tier.sh"
connected_enabled="enabled|1,1000,1006,1017,1029,1038,1039,1040,1041,1042,1043,1044,1056,1064,1065,1066,1067"
frame_is() { check "window: $1" "device: '$(frames_of "$work/sim.log" | tail -n 1)', expected '$2'" \
  test "$(frames_of "$work/sim.log" | tail -n 1)" = "$2"; }
frames_received() { grep -c "frame received (" "$work/sim.log"; }

# example ARGS CLICKS: the clicks of a form make the frame varnis-cli makes of ARGS.
example() {
  local args clicks
  IFS='|' read -r -a args <<<"$1"
  read -r -a clicks <<<"$2"
  connected_with
  drive "example $1" "$varnis_exe" "${connect[@]}" "${clicks[@]}" "click|1017" "box|Success!|Warning|ok" "${end[@]}"
  stop_sim
  frame_is "frame of $1" "$("$cli_linux" frame "${args[@]}")"
}

# The guide, byte for byte: every line break CR LF.
guide_file() {
  local line
  printf "User's Guide:\r\n"
  for line in "1.The program is used to make the Provin for TLR4A7K reader." \
    "2.Switch on the Provin Generator Device and press 'OpenPort' to establish the connection." \
    "3.Output data source, UID number or Sector Data, is optional." \
    "4.Wiegand or ABA interface is optional." \
    "5.The number of data bits,the impulse width and the impulse interval time of Wiegand can be defined." \
    "6.The output data content of ABA can be defined." \
    "7.When selected to output the sector data of Mifare card, the attribute of the data such as Sector Number, Block Number,Starting Address,Ending Address and Sequece Arrangement can be defined." \
    "8.Sector anthentication mode and password content can be defined." \
    "9.Two level configuration security measures,Password Protection and Configuration Locking,can be selected."; do
    printf '\r\n%s\r\n' "$line"
  done
}
guide_file >"$work/guide.txt"
guide=$(wpath "$work/guide.txt")

# lost_line NAME WHEN SIM-ARGS STEP...: a line lost while connected, idle or
# in the middle of a card: exactly one box, then the disconnected state at
# once (OpenPort enabled, Make Provin and ClosePort not), no spinning; the
# device back on the same port (a new line on COM3), OpenPort makes a card,
# and Exit ends the program with no box left behind. The driver runs STEP...
# then waits for the box; WHEN "connected": the device is taken away once the
# driver has connected, else it hangs up by itself (--hang-up).
lost_line() {
  local name=$1 when=$2 sim_args=$3; shift 3
  # shellcheck disable=SC2086
  connected_with $sim_args
  local first_sim=$sim_pid
  win "$driver" "$varnis_exe" "$@" "box|*|Application Error|ok" "nobox|1500" "$disconnected_enabled" \
    "signal|$(wpath "$work/lost")" "wait-file|$(wpath "$work/device-back")" "${connect[@]}" \
    "click|1017" "box|Success!|Warning|ok" "nobox|500" "${end[@]}" >"$work/drive.log" 2>&1 &
  local lost_driver=$!
  if [ "$when" = connected ]; then
    wait_file "$work/connected" "$lost_driver"
    sleep 0.5
  else
    wait_file "$work/lost" "$lost_driver"
  fi
  kill "$first_sim" 2>/dev/null
  wait "$first_sim" 2>/dev/null
  wait_file "$work/lost" "$lost_driver"
  local app t0 t1
  app=$(app_pid)
  t0=$(ticks "$app")
  sleep 2
  t1=$(ticks "$app")
  connected_with --quiet
  touch "$work/device-back"
  if wait "$lost_driver" && [ -n "$app" ] && [ "$((t1 - t0))" -le 20 ]; then
    pass "window: $name ($((t1 - t0)) ticks in 2 s after the box)"
  else
    fail "window: $name" "process '${app}', $((t1 - t0)) ticks in 2 s; $(grep -m 1 -E '^FAIL' "$work/drive.log" | tr -d '\r')"
  fi
}

case "${1:-}" in
  start-state)
    drive "the start state" "$varnis_exe" "$disconnected_enabled" "$default_checks" "text|1007|40" "text|1008|08" \
      "text|1024|A5C30F7E9B12" "text|1067|47150263" "selection|1026|0" "selection|1019|0" "selection|1020|0" \
      "selection|1021|0" "selection|1060|4" "focus|1" "${end[@]}" ;;
  positions)
    drive "every control within 3 pixels of its dialog-unit rectangle" "$varnis_exe" "positions|3" "${end[@]}" ;;
  positions-144)  # on the desktop at 144 DPI (150 %): the window is half as large again
    drive "at 144 DPI, every control within 3 pixels of its dialog-unit rectangle" "$varnis_exe" "positions|3" \
      "${end[@]}" ;;
  nodpi)
    # A Windows before 10 has neither GetDpiForWindow nor GetSystemMetricsForDpi:
    # the window still shows, with its icons at the system's DPI.
    drive "a start without the per-monitor DPI calls" "$(wpath "$windows/bin/varnis_nodpi.exe")" \
      "$disconnected_enabled" "${end[@]}" ;;
  default-card)
    # The search, then a card of the defaults: the frame the device took is
    # the Linux build's for the same form.
    connected_with
    drive "the search and a card of the defaults" "$varnis_exe" "${connect[@]}" "$connected_enabled" \
      "$default_checks" "focus|1029" "click|1017" "box|Success!|Warning|ok" "nobox|300" "${end[@]}"
    stop_sim
    frame_is "the default frame" "$("$cli_linux" frame)" ;;
  example-sector)
    example "--mode|sector|--sector|5|--block|2|--start|1|--end|5|--key-type|b|--key|0123456789AB|--order|msb" \
      "click|1039 select|1019|5 select|1020|2 select|1021|1 select|1060|5 click|1051 settext|1024|0123456789AB click|1052" ;;
  example-aba) example "--interface|aba|--aba|4H+2H to 8D" "click|1041 click|1049" ;;
  example-wiegand)
    example "--wiegand|42|--timing|user|--width|100|--interval|20" "click|1044 click|1006 settext|1008|100 settext|1007|20" ;;
  example-locked)
    example "--mode|sector|--interface|aba|--aba|6H to 10D|--locking|on|--protection|on|--password|DEADBEEF" \
      "click|1039 click|1041 click|1047 click|1066 box|*|Warning|ok click|1064 settext|1067|DEADBEEF" ;;
  validation)
    # Only the first failing check is told, and nothing is sent.
    connected_with
    drive "the validation messages" "$varnis_exe" "${connect[@]}" "click|1039" \
      "settext|1024|12345" "click|1017" "box|KEY length invalid.|Warning|ok" \
      "settext|1024|GGGGGGGGGGGG" "click|1017" "box|KEY data invalid.|Warning|ok" "settext|1024|A5C30F7E9B12" \
      "select|1021|5" "select|1060|2" "click|1017" "box|Block address definition invalid.|Warning|ok" "select|1021|0" \
      "select|1060|4" "click|1006" "settext|1008|0" "click|1017" "box|Impulse parameter definition invalid.|Warning|ok" \
      "click|1056" "click|1064" "settext|1067|123" "click|1017" "box|Configuration password length invalid.|Warnning|ok" \
      "settext|1067|4715026G" "click|1017" "box|Configuration password data invalid.|Warning|ok" "${end[@]}"
    stop_sim
    check "window: the validation messages send nothing" "a frame was sent" test "$(frames_received)" = 0 ;;
  locking)
    connected_with
    drive "the locking confirmation, Cancel then OK" "$varnis_exe" "${connect[@]}" "click|1066" \
      "box|$lock_text|Warning|cancel" "$default_checks" "click|1066" "box|$lock_text|Warning|ok" \
      "checked|1038,1040,1042,1045,1050,1053,1056,1065,1066" "click|1017" "box|Success!|Warning|ok" "${end[@]}"
    stop_sim
    frame_is "the locked frame" "$("$cli_linux" frame --locking on)" ;;
  failure)
    connected_with --quiet --fail 5
    drive "Failure!" "$varnis_exe" "${connect[@]}" "click|1017" "box|Failure!|Warning|ok" "${end[@]}" ;;
  reply-timeout)
    # Once connected, the device is stopped (its line stays).
    connected_with --quiet
    win "$driver" "$varnis_exe" "${connect[@]}" "signal|$(wpath "$work/connected")" \
      "wait-file|$(wpath "$work/device-stopped")" "click|1017" \
      "box|Communication Over time,please check the hardware.|Warning|ok" "nobox|1500" "${end[@]}" \
      >"$work/drive.log" 2>&1 &
    timeout_driver=$!
    wait_file "$work/connected" "$timeout_driver" && kill -STOP "$sim_pid"
    touch "$work/device-stopped"
    if wait "$timeout_driver"; then pass "window: the reply time-out"; else fail "window: the reply time-out" "$(drive_failure)"; fi ;;
  not-found)
    connected_with --quiet --silent
    drive "not found" "$varnis_exe" "click|1027" "box|Provin Generator Device not found.|Warning|ok" "nobox|1000" \
      "$disconnected_enabled" "${end[@]}" ;;
  help)
    drive "Help by the button and by system command 0x0010" "$varnis_exe" "click|1000" "help|$guide" \
      "syscommand|0x0010" "help|$guide" "syscommand|0x0013" "help|$guide" "${end[@]}" ;;
  box-in-help)
    # Boxes inside other modal windows: a box is owned by the window modal
    # when it opens, and whichever window is closed first, the form stays
    # disabled while a box is open; a "Make Provin" sent to it meanwhile sends
    # nothing. The device takes 700 ms to write a card, so its result comes
    # while the other window is open.
    connected_with --write-time 700
    drive "a box inside Help: Help closed first, then the box first" "$varnis_exe" "${connect[@]}" "click|1017" \
      "click|1000" "wait-box|*|help" "close-first|help|ok" "main|disabled" "click|1017" "sleep|1500" "main|disabled" \
      "box|*|Warning|ok" "main|enabled" "nobox|500" \
      "click|1017" "click|1000" "wait-box|*|help" "box|*|Warning|ok" "main|disabled" "help|$guide" "main|enabled" \
      "${end[@]}"
    stop_sim
    check "window: a box inside Help: one card a Make Provin" "$(frames_received) frames for 2 cards" \
      test "$(frames_received)" = 2 ;;
  box-in-question)
    connected_with --write-time 700
    drive "a box inside the locking question, the question closed first" "$varnis_exe" "${connect[@]}" "click|1017" \
      "click|1066" "wait-box|$lock_text|main" "wait-box|*|box" "close-first|$lock_text|ok" "main|disabled" \
      "click|1017" "sleep|1500" "main|disabled" "box|*|Warning|ok" "main|enabled" "nobox|500" \
      "checked|1038,1040,1042,1045,1050,1053,1056,1065,1066" "${end[@]}"
    stop_sim
    check "window: a box inside the locking question: nothing more sent" "$(frames_received) frames for 1 card" \
      test "$(frames_received)" = 1 ;;
  search-unlisted)
    # The search tries COM1 to COM10 whether the system lists them or not: the
    # device on COM5, which the list leaves out, is found; the one on COM3,
    # which the list names as a Bluetooth modem, is never probed.
    trap 'serialcomm_ten; finish' EXIT
    start_sim "$work/bt.log" && map_port 3 "$sim_path"
    start_sim "$work/sim.log" && map_port 5 "$sim_path"
    serialcomm '\Device\Serial0=COM1' '\Device\BthModem0=COM3' || fail "window: the port list for the search"
    drive "the search finds a port the system does not list" "$varnis_exe" "${connect[@]}" "click|1017" \
      "box|Success!|Warning|ok" "${end[@]}"
    check "window: the card made on the unlisted COM5" "$(frames_received) frames" test "$(frames_received)" = 1
    check "window: the Bluetooth modem port is never probed" "$(grep -m 1 STX "$work/bt.log")" \
      test "$(grep -c "STX received" "$work/bt.log")" = 0 ;;
  lost-idle)
    lost_line "a line lost while connected and idle, then the next card" connected "--quiet" "${connect[@]}" \
      "signal|$(wpath "$work/connected")" ;;
  lost-mid-card)
    lost_line "a line lost mid-card, then the next card" hang-up "--quiet --hang-up" "${connect[@]}" "click|1017" ;;
  exit-button) drive "Exit ends the program" "$varnis_exe" "click|1" "exit|5000" ;;
  exit-enter) drive "Enter in an edit field ends the program" "$varnis_exe" "key|1007|return" "exit|5000" ;;
  exit-escape) drive "Escape ends the program" "$varnis_exe" "key|1|escape" "exit|5000" ;;
  exit-close) drive "the close button ends the program" "$varnis_exe" "close" "exit|5000" ;;
  *) echo "window-case.sh: no case '${1:-}'" >&2; exit 2 ;;
esac
verdict
