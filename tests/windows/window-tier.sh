# The window tier of scripts/test-windows, sourced by it: varnis.exe under
# Wine on an X server of its own, driven from outside by
# tests/windows/WindowDriver.cpp, against the simulated device on a pty
# mapped as COM3. Uses the script's pass/fail, start_sim/stop_sim,
# map_port/unmap_ports, $shim, $work, $windows, $linux, $sim, $cli_linux.
# Also takes the Windows screenshot (build-windows/screenshots/
# main-window-windows.png; scripts/screenshot --windows copies the run's
# shots into docs/) and prints the window's figures, each beside its floor
# from the same run.

driver="$work/window-driver.exe"
shots="$windows/screenshots"
mkdir -p "$shots"
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Werror -static -o "$driver" \
  "$VARNIS_ROOT/tests/windows/WindowDriver.cpp" || { fail "window tier" "the driver did not build"; return; }

# An X server for this block, and the prefix's programs on one virtual
# desktop, whose window frames Wine draws itself (there is no window manager).
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/xvfb.display" 2>/dev/null &
children+=("$!")
for _ in $(seq 50); do [ -s "$work/xvfb.display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/xvfb.display")"
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
LD_PRELOAD=$shim wineserver -p >/dev/null 2>&1
win reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
win reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 960x720 /f >/dev/null 2>&1
# The desktop's process, started with the first program, read the settings
# before they were written: the prefix starts afresh with them.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
LD_PRELOAD=$shim wineserver -p >/dev/null 2>&1
# The system's port list is a volatile key, gone with the old wine server.
serialcomm_ten || fail "window: the port list written again after the restart"
# COM1 is a device that never answers, as a machine's unused port is (without
# a link Wine would give COM1 the host's ttyS0); COM2 and COM4 to COM10 do not
# exist. A case maps the device to COM3.
"$sim" --quiet --silent >"$work/com1.log" 2>&1 &
children+=("$!")
for _ in $(seq 50); do [ -s "$work/com1.log" ] && break; sleep 0.1; done
com1_path=$(head -n 1 "$work/com1.log")
blank_ports() {
  unmap_ports
  map_port 1 "$com1_path"
}
blank_ports
# CPU clock ticks of a process; 0 when there is none.
pticks() { [ -n "$1" ] && [ -r "/proc/$1/stat" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
app_pid() { pgrep -n -f 'bin.varnis\.exe$'; }

varnis_exe=$(winepath -w "$windows/bin/varnis.exe" 2>/dev/null)
bare_exe=$(winepath -w "$windows/bin/bare_dialog.exe" 2>/dev/null)
# Windows paths of this run's files, worked out once: Z: is the host's root.
wpath() { printf 'Z:%s' "${1//\//\\}"; }

# drive NAME PROGRAM STEP...: one run of the driver; its failing step, if any.
drive() {
  local name=$1; shift
  if win "$driver" "$@" >"$work/drive.log" 2>&1; then
    pass "window: $name"
  else
    fail "window: $name" "$(sed -n '/^FAIL/,$p' "$work/drive.log" | head -c 600 | tr -d '\r' | tr '\n' ' ')"
  fi
}
# connected_with ARGS...: a simulated device with ARGS on COM3.
connected_with() {
  blank_ports
  start_sim "$work/sim.log" "$@" && map_port 3 "$sim_path"
}
# wait_file FILE PID: until FILE exists or the driver PID has ended (30 s).
wait_file() {
  local _i
  for _i in $(seq 300); do
    [ -e "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
last_frame() { sed -n 's/.*frame received (26 bytes): //p' "$work/sim.log" | tail -n 1; }

# Connected: "OpenPort" is the last control the connected state changes.
connect=("click|1027" "wait-enabled|1029" "wait-disabled|1027")
disconnected_enabled="enabled|1,1000,1027"
default_checks="checked|1038,1040,1042,1045,1050,1053,1056,1065"
connected_enabled="enabled|1,1000,1006,1017,1029,1038,1039,1040,1041,1042,1043,1044,1056,1064,1065,1066,1067"
end=("close" "exit|5000")

drive "the start state" "$varnis_exe" "$disconnected_enabled" "$default_checks" "text|1007|40" "text|1008|08" \
  "text|1024|A5C30F7E9B12" "text|1067|47150263" "selection|1026|0" "selection|1019|0" "selection|1020|0" \
  "selection|1021|0" "selection|1060|4" "focus|1" "${end[@]}"
drive "every control within 3 pixels of its dialog-unit rectangle" "$varnis_exe" "positions|3" "${end[@]}"

# The search, then a card of the defaults: the frame the device took is the
# Linux build's for the same form.
connected_with
drive "the search and a card of the defaults" "$varnis_exe" "${connect[@]}" "$connected_enabled" "$default_checks" \
  "focus|1029" "click|1017" "box|Success!|Warning|ok" "nobox|300" "${end[@]}"
stop_sim
[ "$(last_frame)" = "$("$cli_linux" frame)" ] && pass "window: the default frame" \
  || fail "window: the default frame" "device: '$(last_frame)', expected '$("$cli_linux" frame)'"

# Worked examples: the clicks of a form, and the same form for varnis-cli.
examples=(
  "click|1039 select|1019|5 select|1020|2 select|1021|1 select|1060|5 click|1051 settext|1024|0123456789AB click|1052"
  "click|1041 click|1049"
  "click|1044 click|1006 settext|1008|100 settext|1007|20"
  "click|1039 click|1041 click|1047 click|1066 box|*|Warning|ok click|1064 settext|1067|DEADBEEF"
)
example_args=(
  "--mode|sector|--sector|5|--block|2|--start|1|--end|5|--key-type|b|--key|0123456789AB|--order|msb"
  "--interface|aba|--aba|4H+2H to 8D"
  "--wiegand|42|--timing|user|--width|100|--interval|20"
  "--mode|sector|--interface|aba|--aba|6H to 10D|--locking|on|--protection|on|--password|DEADBEEF"
)
for i in "${!examples[@]}"; do
  IFS='|' read -r -a row_args <<<"${example_args[$i]}"
  read -r -a clicks <<<"${examples[$i]}"
  connected_with
  drive "example ${example_args[$i]}" "$varnis_exe" "${connect[@]}" "${clicks[@]}" "click|1017" \
    "box|Success!|Warning|ok" "${end[@]}"
  stop_sim
  want=$("$cli_linux" frame "${row_args[@]}")
  [ "$(last_frame)" = "$want" ] && pass "window: frame of ${example_args[$i]}" \
    || fail "window: frame of ${example_args[$i]}" "device: '$(last_frame)', expected '$want'"
done

# The form's checks: only the first failing one is told, nothing is sent.
connected_with
drive "the validation messages" "$varnis_exe" "${connect[@]}" "click|1039" \
  "settext|1024|12345" "click|1017" "box|KEY length invalid.|Warning|ok" \
  "settext|1024|GGGGGGGGGGGG" "click|1017" "box|KEY data invalid.|Warning|ok" "settext|1024|A5C30F7E9B12" \
  "select|1021|5" "select|1060|2" "click|1017" "box|Block address definition invalid.|Warning|ok" "select|1021|0" \
  "select|1060|4" "click|1006" "settext|1008|0" "click|1017" "box|Impulse parameter definition invalid.|Warning|ok" \
  "click|1056" "click|1064" "settext|1067|123" "click|1017" "box|Configuration password length invalid.|Warnning|ok" \
  "settext|1067|4715026G" "click|1017" "box|Configuration password data invalid.|Warning|ok" "${end[@]}"
stop_sim
grep -q "frame received" "$work/sim.log" && fail "window: the validation messages send nothing" "a frame was sent"

lock_text="Configuration will not be able to change after configuration locking enabled,are you sure to start the operation?"
connected_with
drive "the locking confirmation, Cancel then OK" "$varnis_exe" "${connect[@]}" "click|1066" \
  "box|$lock_text|Warning|cancel" "$default_checks" "click|1066" "box|$lock_text|Warning|ok" \
  "checked|1038,1040,1042,1045,1050,1053,1056,1065,1066" "click|1017" "box|Success!|Warning|ok" "${end[@]}"
stop_sim
[ "$(last_frame)" = "$("$cli_linux" frame --locking on)" ] && pass "window: the locked frame" \
  || fail "window: the locked frame" "device: '$(last_frame)'"

connected_with --quiet --fail 5
drive "Failure!" "$varnis_exe" "${connect[@]}" "click|1017" "box|Failure!|Warning|ok" "${end[@]}"
stop_sim
# The reply time-out: once connected, the device is stopped (its line stays).
connected_with --quiet
rm -f "$work/connected" "$work/device-stopped"
win "$driver" "$varnis_exe" "${connect[@]}" "signal|$(wpath "$work/connected")" \
  "wait-file|$(wpath "$work/device-stopped")" "click|1017" \
  "box|Communication Over time,please check the hardware.|Warning|ok" "nobox|1500" "${end[@]}" >"$work/drive.log" 2>&1 &
timeout_driver=$!
wait_file "$work/connected" "$timeout_driver" && kill -STOP "$sim_pid"
touch "$work/device-stopped"
if wait "$timeout_driver"; then
  pass "window: the reply time-out"
else
  fail "window: the reply time-out" "$(sed -n '/^FAIL/,$p' "$work/drive.log" | head -c 600 | tr -d '\r' | tr '\n' ' ')"
fi
kill -CONT "$sim_pid"
stop_sim
connected_with --quiet --silent
drive "not found" "$varnis_exe" "click|1027" "box|Provin Generator Device not found.|Warning|ok" "nobox|1000" \
  "$disconnected_enabled" "${end[@]}"
stop_sim
blank_ports

# The guide, byte for byte: every line break CR LF.
{
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
} >"$work/guide.txt"
guide=$(wpath "$work/guide.txt")
drive "Help by the button and by system command 0x0010" "$varnis_exe" "click|1000" "help|$guide" \
  "syscommand|0x0010" "help|$guide" "syscommand|0x0013" "help|$guide" "${end[@]}"

# Boxes inside other modal windows: a box is owned by the window modal when it
# opens (the help window, the locking question), and whichever window is
# closed first, the form stays disabled while a box is open; a "Make Provin"
# sent to it meanwhile sends nothing. The device takes 700 ms to write a card,
# so its result comes while the other window is open.
frames_received() { grep -c "frame received (" "$work/sim.log"; }
connected_with --write-time 700
drive "a box inside Help: Help closed first, then the box first" "$varnis_exe" "${connect[@]}" "click|1017" \
  "click|1000" "wait-box|*|help" "close-first|help|ok" "main|disabled" "click|1017" "sleep|1500" "main|disabled" \
  "box|*|Warning|ok" "main|enabled" "nobox|500" \
  "click|1017" "click|1000" "wait-box|*|help" "box|*|Warning|ok" "main|disabled" "help|$guide" "main|enabled" \
  "${end[@]}"
stop_sim
[ "$(frames_received)" = 2 ] && pass "window: a box inside Help: one card a Make Provin" \
  || fail "window: a box inside Help: one card a Make Provin" "$(frames_received) frames for 2 cards"
connected_with --write-time 700
drive "a box inside the locking question, the question closed first" "$varnis_exe" "${connect[@]}" "click|1017" \
  "click|1066" "wait-box|$lock_text|main" "wait-box|*|box" "close-first|$lock_text|ok" "main|disabled" \
  "click|1017" "sleep|1500" "main|disabled" "box|*|Warning|ok" "main|enabled" "nobox|500" \
  "checked|1038,1040,1042,1045,1050,1053,1056,1065,1066" "${end[@]}"
stop_sim
[ "$(frames_received)" = 1 ] && pass "window: a box inside the locking question: nothing more sent" \
  || fail "window: a box inside the locking question: nothing more sent" "$(frames_received) frames for 1 card"

# The search tries COM1 to COM10 whether the system lists them or not: the
# device on COM5, which the list leaves out, is found; the one on COM3, which
# the list names as a Bluetooth modem, is never probed.
blank_ports
start_sim "$work/bt.log" && map_port 3 "$sim_path"
bt_sim=$sim_pid
start_sim "$work/sim.log" && map_port 5 "$sim_path"
serialcomm '\Device\Serial0=COM1' '\Device\BthModem0=COM3' || fail "window: the port list for the search"
drive "the search finds a port the system does not list" "$varnis_exe" "${connect[@]}" "click|1017" \
  "box|Success!|Warning|ok" "${end[@]}"
stop_sim
kill "$bt_sim" 2>/dev/null
wait "$bt_sim" 2>/dev/null
serialcomm_ten || fail "window: the port list written again"
[ "$(frames_received)" = 1 ] && pass "window: the card made on the unlisted COM5" \
  || fail "window: the card made on the unlisted COM5" "$(frames_received) frames"
if grep -q "STX received" "$work/bt.log"; then
  fail "window: the Bluetooth modem port is never probed" "$(grep -m 1 STX "$work/bt.log")"
else
  pass "window: the Bluetooth modem port is never probed"
fi
blank_ports

# A line lost while connected, idle or in the middle of a card: exactly one
# box, then the disconnected state at once (OpenPort enabled, Make Provin and
# ClosePort not), no spinning; the device back on the same port (a new line
# on COM3), OpenPort makes a card, and Exit ends the program with no box left
# behind. lost_line NAME WHEN SIM-ARGS STEP...: the driver runs STEP... then
# waits for the box; WHEN "connected": the device is taken away once the
# driver has connected, else it hangs up by itself (--hang-up).
lost_line() {
  local name=$1 when=$2 sim_args=$3; shift 3
  rm -f "$work/connected" "$work/lost" "$work/device-back"
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
  fi
  [ "$when" = connected ] || wait_file "$work/lost" "$lost_driver"
  kill "$first_sim" 2>/dev/null
  wait "$first_sim" 2>/dev/null
  wait_file "$work/lost" "$lost_driver"
  local app t0 t1
  app=$(app_pid)
  t0=$(pticks "$app")
  sleep 2
  t1=$(pticks "$app")
  connected_with --quiet
  touch "$work/device-back"
  if wait "$lost_driver" && [ -n "$app" ] && [ "$((t1 - t0))" -le 20 ]; then
    pass "window: $name ($((t1 - t0)) ticks in 2 s after the box)"
  else
    fail "window: $name" "process '${app}', $((t1 - t0)) ticks in 2 s; $(grep -m 1 -E '^FAIL' "$work/drive.log" | tr -d '\r')"
  fi
  stop_sim
  blank_ports
}
lost_line "a line lost while connected and idle, then the next card" connected "--quiet" "${connect[@]}" \
  "signal|$(wpath "$work/connected")"
lost_line "a line lost mid-card, then the next card" hang-up "--quiet --hang-up" "${connect[@]}" "click|1017"

drive "Exit ends the program" "$varnis_exe" "click|1" "exit|5000"
drive "Enter in an edit field ends the program" "$varnis_exe" "key|1007|return" "exit|5000"
drive "Escape ends the program" "$varnis_exe" "key|1|escape" "exit|5000"
drive "the close button ends the program" "$varnis_exe" "close" "exit|5000"

# The screenshot: connected to the device, the desktop trimmed away.
connected_with --quiet
rm -f "$work/shown" "$work/shot-done"
win "$driver" "$varnis_exe" "${connect[@]}" "signal|$(wpath "$work/shown")" "wait-file|$(wpath "$work/shot-done")" \
  "${end[@]}" >"$work/drive.log" 2>&1 &
shot_driver=$!
wait_file "$work/shown" "$shot_driver"
sleep 1
# The virtual desktop at the screen's corner, trimmed of its plain background
# down to the window (centred, it leaves the corners free).
import -window root "$work/desktop.png" &&
  convert "$work/desktop.png" -crop 960x720+0+0 +repage -trim +repage "$work/main-window-windows.png"
touch "$work/shot-done"
wait "$shot_driver"
if [ -s "$work/main-window-windows.png" ]; then
  cp "$work/main-window-windows.png" "$shots/main-window-windows.png"
  pass "window: screenshot $shots/main-window-windows.png"
else
  fail "window: screenshot"
fi
stop_sim

# --- figures ------------------------------------------------------------
source "$VARNIS_ROOT/tests/windows/window-startup.sh"

# CPU over 10 s connected and idle, against a bare WaitCommEvent on its own
# line; the peak memory of each (VmHWM of the Windows process).
connected_with --quiet
rm -f "$work/shown" "$work/idle-done"
win "$driver" "$varnis_exe" "${connect[@]}" "signal|$(wpath "$work/shown")" "wait-file|$(wpath "$work/idle-done")" \
  "${end[@]}" >"$work/drive.log" 2>&1 &
idle_driver=$!
wait_file "$work/shown" "$idle_driver"
app=$(app_pid)
server=$(server_pid)
p0=$(pticks "$app"); s0=$(pticks "$server")
sleep 10
p1=$(pticks "$app"); s1=$(pticks "$server")
hwm=$(sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/${app:-0}/status" 2>/dev/null)
touch "$work/idle-done"
wait "$idle_driver"
stop_sim
echo "figure: idle and connected 10 s: varnis.exe $((p1 - p0)) ticks, wine server $((s1 - s0)) ticks; peak memory ${hwm:-unknown}"
start_sim "$work/sim.log" --quiet --silent && map_port 4 "$sim_path"
LD_PRELOAD=$shim wine "$windows/bin/comm_wait_bare.exe" COM4 13 >/dev/null 2>&1 </dev/null &
bare=$!
sleep 2
bare_pid=$(pgrep -n -f 'comm_wait_bare\.exe')
p0=$(pticks "$bare_pid"); s0=$(pticks "$server")
sleep 10
p1=$(pticks "$bare_pid"); s1=$(pticks "$server")
hwm=$(sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/${bare_pid:-0}/status" 2>/dev/null)
wait "$bare"
stop_sim
blank_ports
echo "figure: floor, bare WaitCommEvent 10 s: $((p1 - p0)) ticks, wine server $((s1 - s0)) ticks; peak memory ${hwm:-unknown} ($(getconf CLK_TCK) ticks/s)"
