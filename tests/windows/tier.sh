# shellcheck shell=bash
# What the Windows tier's cases share; each case script sources it. CTest
# (tests/windows/CMakeLists.txt) gives the paths and Wine's settings in the
# environment, and its fixtures have made the prefix (with its wine server
# running under the preload), the port list and, for the window, the X
# server and its desktop. A case starts its own simulated devices, maps them
# as COM ports and leaves the prefix as it found it when it ends.
#
# A case prints "ok: ..." or "FAIL: ..." for each thing it checks and ends
# with `verdict`: exit status 1 when anything failed.
set -uo pipefail
root=${VARNIS_ROOT:?run by CTest in build-windows}
windows=${VARNIS_WINDOWS_BUILD:?}
linux=${VARNIS_LINUX_BUILD:?}
tier=${VARNIS_TIER_DIR:?}  # the tier's state: prefix, preload, relay, X server
probes=$windows/tests/windows  # the tier's own Windows programs
shim=$tier/pty-modem-shim.so
cli_exe=$windows/bin/varnis-cli.exe
cli_linux=$linux/bin/varnis-cli
sim=$linux/bin/varnis-device-sim
shots=$windows/screenshots
[ -f "$tier/display" ] && export DISPLAY=":$(head -n 1 "$tier/display")"

mkdir -p "$tier"
work=$(mktemp -d "$tier/case.XXXXXX")  # this case's own files
children=()
failed=0
pass() { echo "ok:   $1"; }
fail() { failed=1; echo "FAIL: $1${2:+: $2}"; }
verdict() { exit "$failed"; }
# check NAME DETAIL COMMAND...: pass NAME when COMMAND succeeds, else fail with DETAIL.
check() { local name=$1 detail=$2; shift 2; if "$@"; then pass "$name"; else fail "$name" "$detail"; fi; }
finish() {
  local pid
  for pid in "${children[@]}"; do kill -CONT "$pid" 2>/dev/null; kill "$pid" 2>/dev/null; done
  for pid in "${children[@]}"; do wait "$pid" 2>/dev/null; done
  unmap_ports
  rm -rf "$work"
}
trap finish EXIT

# win PROGRAM ARGS...: a Windows program under Wine (with the preload), bounded.
win() { LD_PRELOAD=$shim timeout 120 wine "$@"; }
# wpath FILE: FILE as the Windows programs name it (Z: is the host's root).
wpath() { printf 'Z:%s' "${1//\//\\}"; }

# start_sim LOG ARGS...: a simulated device on a new pty; sets sim_pid and
# sim_path (the pty it serves).
start_sim() {
  local log=$1 i; shift
  "$sim" "$@" >"$log" 2>&1 &
  sim_pid=$!
  children+=("$sim_pid")
  sim_path=
  for i in $(seq 50); do
    sim_path=$(head -n 1 "$log" 2>/dev/null)
    [ -n "$sim_path" ] && [ -e "$sim_path" ] && return 0
    sleep 0.1
  done
  return 1
}
stop_sim() { kill -CONT "$sim_pid" 2>/dev/null; kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
# map_port N PATH: COMn of this prefix is PATH.
map_port() { ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"; }
# unmap_ports: no COM1 to COM19 (the relay's lines are COM20 and up); with
# the window's desktop up, COM1 is its device that never answers again.
unmap_ports() {
  local n
  for n in $(seq 19); do rm -f "$WINEPREFIX/dosdevices/com$n"; done
  [ -s "$tier/com1.path" ] && map_port 1 "$(head -n 1 "$tier/com1.path")"
  return 0
}
frames_of() { sed -n 's/.*frame received (26 bytes): //p' "$1"; }

# The system's list of ports (SERIALCOMM), a volatile key: serialcomm
# [DEVICE=COMn...] makes it hold exactly these entries; serialcomm_ten is the
# tier's own list, COM1 to COM10, as on a machine with ten ports.
serialcomm_key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
serialcomm() {
  local entry
  win reg delete "$serialcomm_key" /va /f >/dev/null 2>&1
  for entry in "$@"; do
    win reg add "$serialcomm_key" /v "${entry%%=*}" /d "${entry#*=}" /f >/dev/null 2>&1 || return 1
  done
}
serialcomm_ten() {
  local n entries=()
  for n in $(seq 10); do entries+=("\\Device\\Serial$((n - 1))=COM$n"); done
  serialcomm "${entries[@]}"
}

# CPU clock ticks of a process (0 when there is none), and the prefix's wine server.
ticks() { [ -n "$1" ] && [ -r "/proc/$1/stat" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
server_pid() {
  local pid
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "$pid"; return; }
  done
  echo 0
}
# wait_file FILE PID: until FILE exists or PID has ended (30 s).
wait_file() {
  local _i
  for _i in $(seq 300); do
    [ -e "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# --- the window: varnis.exe driven from outside (tests/windows/WindowDriver.cpp)
driver=$probes/window-driver.exe
varnis_exe=$(wpath "$windows/bin/varnis.exe")
# Connected: "OpenPort" is the last control the connected state changes.
connect=("click|1027" "wait-enabled|1029" "wait-disabled|1027")
disconnected_enabled="enabled|1,1000,1027"
default_checks="checked|1038,1040,1042,1045,1050,1053,1056,1065"
end=("close" "exit|5000")
lock_text="Configuration will not be able to change after configuration locking enabled,are you sure to start the operation?"
# drive NAME PROGRAM STEP...: one run of the driver; its failing step, if any.
drive() {
  local name=$1; shift
  if win "$driver" "$@" >"$work/drive.log" 2>&1; then
    pass "window: $name"
  else
    fail "window: $name" "$(drive_failure)"
  fi
}
# The driver's failing step, and what the device last said (its log, if any).
drive_failure() {
  sed -n '/^FAIL/,$p' "$work/drive.log" | head -c 600 | tr -d '\r' | tr '\n' ' '
  [ -s "$work/sim.log" ] && printf '(device: %s)' "$(tail -n 3 "$work/sim.log" | tr '\n' ' ' | head -c 300)"
  return 0
}
# connected_with ARGS...: a simulated device with ARGS on COM3 (its log $work/sim.log).
connected_with() { start_sim "$work/sim.log" "$@" && map_port 3 "$sim_path"; }
app_pid() { pgrep -n -f 'bin.varnis\.exe$'; }
