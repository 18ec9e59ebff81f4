#!/usr/bin/env bash
# Idle CPU: varnis-cli.exe waiting 5 s for a card's result, against a bare
# program that only waits in WaitCommEvent on a line of its own, in the same
# run, with the preload and without. CPU in clock ticks of the Windows process
# and of the prefix's wine server over the same 5 s, printed. Without the
# preload Wine ends every line wait at once: varnis-cli.exe then costs at most
# a quarter of the bare program's CPU (judged).
source "$(dirname "$0")/tier.sh"
# measure LABEL PRELOAD PROGRAM ARGS...: the Windows program runs in the
# background (its process is the one started); after 2 s of start-up, 5 s
# are measured; sets idle_ticks.
measure() {
  local label=$1 preload=$2; shift 2
  LD_PRELOAD=$preload wine "$@" >/dev/null 2>&1 </dev/null &
  local pid=$! server p0 s0 p1 s1
  sleep 2
  server=$(server_pid)
  p0=$(ticks "$pid"); s0=$(ticks "$server")
  sleep 5
  p1=$(ticks "$pid"); s1=$(ticks "$server")
  idle_ticks=
  if [ ! -e "/proc/$pid" ]; then
    echo "idle: $label: the program ended before the 5 s were over; not measured"
  else
    echo "idle: $label: program $((p1 - p0)) ticks, wine server $((s1 - s0)) ticks in 5 s ($(getconf CLK_TCK) ticks/s)"
    idle_ticks=$((p1 - p0))
  fi
  wait "$pid" 2>/dev/null
}
# measure_both PRELOAD: sets cli_idle and bare_idle.
measure_both() {
  local with=${1:+with}
  start_sim "$work/sim.log" --quiet --write-time 10000 && map_port 3 "$sim_path"
  measure "varnis-cli.exe, ${with:-without} the preload" "$1" "$cli_exe" make --port COM3
  cli_idle=$idle_ticks
  stop_sim
  start_sim "$work/sim.log" --quiet --silent && map_port 4 "$sim_path"
  measure "bare WaitCommEvent, ${with:-without} the preload" "$1" "$windows/bin/comm_wait_bare.exe" COM4 10
  bare_idle=$idle_ticks
  stop_sim
}
measure_both "$shim"
measure_both ""
if [ -z "$cli_idle" ] || [ -z "$bare_idle" ]; then
  fail "idle CPU with waits ending at once" "not measured"
elif [ $((cli_idle * 4)) -le "$bare_idle" ]; then
  pass "idle CPU with waits ending at once: $cli_idle ticks against the bare program's $bare_idle"
else
  fail "idle CPU with waits ending at once" "$cli_idle ticks, more than a quarter of the bare program's $bare_idle"
fi
verdict
