#!/usr/bin/env bash
# The Windows tier's fixtures, each a CTest setup or cleanup test
# (tests/windows/CMakeLists.txt):
#   fixture.sh preload            the preload for the Wine processes and the pty
#                                 relay, built for the host (shipped nowhere)
#   fixture.sh prefix-up|down     this run's Wine prefix, its wine server kept
#                                 running under the preload; down removes it all
#   fixture.sh relay-up|down      the far end of the engine's test lines
#   fixture.sh ports              the prefix's port list: COM1 to COM10
#   fixture.sh desktop-up SCREEN DESKTOP DPI | desktop-down
#                                 an X server, the prefix's programs on one
#                                 virtual desktop (Wine draws the frames; there
#                                 is no window manager), and on COM1 a device
#                                 that never answers, as a machine's unused
#                                 port is (without a link Wine would give COM1
#                                 the host's ttyS0)
# A pseudo-terminal refuses the modem-line question Wine asks of a port; the
# preload answers it (tests/windows/PtyModemShim.cpp). The wine server opens
# the ports, so it runs with the preload too, for the whole run.
source "$(dirname "$0")/tier.sh"
relay=$tier/pty-relay

# server_restart: the prefix's wine server afresh (its desktop process reads
# the desktop's settings when it starts), under the preload, with its port
# list again (a volatile key, gone with the old server).
server_restart() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  LD_PRELOAD=$shim wineserver -p >/dev/null 2>&1 && serialcomm_ten
}
# detached LOG PIDFILE COMMAND...: COMMAND in the background, outliving this
# test, its output in LOG (CTest waits for its own output to close).
detached() {
  local log=$1 pidfile=$2; shift 2
  setsid "$@" >"$log" 2>&1 </dev/null &
  echo "$!" >"$pidfile"
}
wait_for() { local _i; for _i in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
end_pid() { [ -s "$1" ] && kill "$(cat "$1")" 2>/dev/null; rm -f "$1"; }

case "${1:-}" in
  preload)
    g++ -std=c++20 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$shim" "$root/tests/windows/PtyModemShim.cpp" -ldl &&
      g++ -std=c++20 -O2 -Wall -Wextra -Werror -o "$relay" "$root/tests/windows/PtyRelay.cpp" -lutil || exit 1 ;;
  prefix-up)
    # Afresh, whatever a run that was stopped left behind.
    for pidfile in "$tier"/*.pid; do end_pid "$pidfile"; done
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$WINEPREFIX" "$tier"/display "$tier"/com1.*
    mkdir -p "$WINEPREFIX"
    LD_PRELOAD=$shim wineserver -p >/dev/null 2>&1 || { echo "no wine server" >&2; exit 1; }
    LD_PRELOAD=$shim wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
    rm -f "$WINEPREFIX"/dosdevices/com* ;;  # the host's own ttyS ports stay out of this prefix
  prefix-down)
    for pidfile in "$tier"/*.pid; do end_pid "$pidfile"; done
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$WINEPREFIX" "$tier"/case.* "$tier"/msi* ;;
  relay-up)
    # The relay's lines are COM20 and up; the test programs find its loopback
    # port in their environment, which Wine fills from HKCU\Environment too.
    detached "$tier/relay.port" "$tier/relay.pid" "$relay" "$WINEPREFIX/dosdevices" 20
    wait_for "$tier/relay.port" || { echo "the relay did not start" >&2; exit 1; }
    win reg add 'HKCU\Environment' /v VARNIS_TEST_RELAY_PORT /d "$(head -n 1 "$tier/relay.port")" /f >/dev/null 2>&1 ;;
  relay-down)
    end_pid "$tier/relay.pid"
    win reg delete 'HKCU\Environment' /v VARNIS_TEST_RELAY_PORT /f >/dev/null 2>&1
    rm -f "$tier/relay.port" ;;
  ports)
    serialcomm_ten || { echo "cannot write SERIALCOMM" >&2; exit 1; } ;;
  desktop-up)
    screen=${2:?} desktop=${3:?} dpi=${4:?}
    rm -f "$tier/display"
    setsid Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$tier/display" >/dev/null 2>&1 </dev/null &
    echo "$!" >"$tier/xvfb.pid"
    wait_for "$tier/display" || { echo "no X server" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$tier/display")"
    server_restart
    win reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
      win reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$desktop" /f >/dev/null 2>&1 &&
      win reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || exit 1
    server_restart || exit 1
    detached "$tier/com1.log" "$tier/com1.pid" "$sim" --quiet --silent
    wait_for "$tier/com1.log" && head -n 1 "$tier/com1.log" >"$tier/com1.path" && unmap_ports ;;
  desktop-down)
    win reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    end_pid "$tier/com1.pid"
    end_pid "$tier/xvfb.pid"
    rm -f "$tier/com1.path" "$tier/display"
    unset DISPLAY
    server_restart ;;
  *) echo "usage: fixture.sh preload|prefix-up|prefix-down|relay-up|relay-down|ports|desktop-up|desktop-down" >&2
     exit 2 ;;
esac
