#!/usr/bin/env bash
# One row of tests/windows/cli-cases.tsv (its columns are described there):
#   cli-case.sh ID
source "$(dirname "$0")/tier.sh"
id=${1:?usage: cli-case.sh ID}
row=$(awk -F'\t' -v id="$id" '$1 == id' "$root/tests/windows/cli-cases.tsv")
[ -n "$row" ] || { echo "cli-case.sh: no row $id" >&2; exit 2; }
IFS=$'\t' read -r _ devices list how args want_status want_out want_err checks <<<"$row"
unescape() { printf '%s' "${1//\\n/$'\n'}"; }
IFS='|' read -r -a words <<<"$args"

# The devices, the port list and how the program runs.
declare -A device_log=()
first_port=
if [ "$devices" != - ]; then
  IFS=, read -r -a device_list <<<"$devices"
  for device in "${device_list[@]}"; do
    n=${device%%:*}
    sim_args=()
    [[ "$device" == *:* ]] && read -r -a sim_args <<<"${device#*:}"
    start_sim "$work/sim$n.log" "${sim_args[@]}" || { fail "$id" "the simulated device on COM$n did not start"; verdict; }
    map_port "$n" "$sim_path"
    device_log[$n]=$work/sim$n.log
    first_port=${first_port:-$n}
  done
fi
case "$list" in
  -) ;;
  none) serialcomm ;;
  *) read -r -a entries <<<"$list"; serialcomm "${entries[@]}" ;;
esac
[ "$list" = - ] || trap 'serialcomm_ten; finish' EXIT
env_words=() console= break_ms= stdin_text=
how_words=() check_words=()
[ "$how" = - ] || read -r -a how_words <<<"$how"
[ "$checks" = - ] || read -r -a check_words <<<"$checks"
for word in "${how_words[@]}"; do
  case "$word" in
    locale=*) env_words+=(LOCPATH="$probes/locale" LANG="${word#*=}" LC_ALL="${word#*=}") ;;
    console=*) console=${word#*=} ;;
    break=*) break_ms=${word#*=} ;;
    stdin=*) stdin_text=${word#*=} stdin_text=${stdin_text//\\n/$'\n'} ;;
    hold=*)
      win "$windows/bin/comm_wait_bare.exe" "${word#*=}" 8 >/dev/null 2>&1 &
      children+=("$!")
      sleep 3 ;;  # the holder is up (Wine starts a program in about a second)
  esac
done

# The run: under the console probe (tests/windows/win32/ConsoleCodePage.cpp)
# on a pseudo-terminal, as Wine makes no console for a program whose output
# is a pipe; else with its output in files.
if [ -n "$console" ]; then
  probe_args=("$(wpath "$work/page.txt")" "$console")
  [ -n "$break_ms" ] && probe_args+=(--break-after "$break_ms")
  LD_PRELOAD=$shim script -qec "$(printf '%q ' timeout 120 wine "$probes/console-code-page.exe" "${probe_args[@]}" \
    "$cli_exe" "${words[@]}")" /dev/null >/dev/null 2>&1
  report=$(tr -d '\r' <"$work/page.txt" 2>/dev/null)
  want="code page $console before, $console after, exit status $want_status"
  [ "$report" = "$want" ] || fail "$id" "'$report' (want: $want)"
else
  printf '%s' "$stdin_text" | env "${env_words[@]}" LD_PRELOAD="$shim" timeout 120 wine "$cli_exe" "${words[@]}" \
    >"$work/out" 2>"$work/err"
  status=${PIPESTATUS[1]}
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
  # The Linux build's answer to the same words, a COM port there being /dev/null.
  linux_words=("${words[@]}")
  for i in "${!linux_words[@]}"; do [[ "${linux_words[$i]}" =~ ^COM[0-9]+$ ]] && linux_words[i]=/dev/null; done
  linux_out=$("$cli_linux" "${linux_words[@]}" </dev/null 2>"$work/linux-err")
  linux_status=$?
  linux_err=$(cat "$work/linux-err")
  # matches TEXT WANT LINUX: TEXT is what WANT says it must be.
  matches() {
    local text=$1 want=$2 clause
    case "$want" in
      '*') return 0 ;;
      -) [ -z "$text" ] ;;
      =) [ "$text" = "$3" ] ;;
      '~'*)
        IFS='|' read -r -a clauses <<<"${want#\~}"
        for clause in "${clauses[@]}"; do
          case "$clause" in
            first:*) [ "$(head -n 1 <<<"$text")" = "${clause#first:}" ] || return 1 ;;
            line:*) grep -qxF -- "${clause#line:}" <<<"$text" || return 1 ;;
            has:*) grep -qF -- "${clause#has:}" <<<"$text" || return 1 ;;
            lacks:*) ! grep -qF -- "${clause#lacks:}" <<<"$text" || return 1 ;;
          esac
        done ;;
      *) [ "$text" = "$(unescape "$want")" ] ;;
    esac
  }
  matches "$status" "$want_status" "$linux_status" || fail "$id: exit status" "$status (Linux $linux_status)"
  matches "$out" "$want_out" "$linux_out" || fail "$id: output" "'$out' (Linux '$linux_out')"
  matches "$err" "$want_err" "$linux_err" || fail "$id: errors" "'$err' (Linux '$linux_err')"
fi

# What the devices took, and the port afterwards.
for word in "${check_words[@]}"; do
  n=${word#*:}
  case "$word" in
    frames:*)
      form=()
      for ((i = 1; i < ${#words[@]}; i++)); do
        case "${words[$i]}" in --port | --count) i=$((i + 1)) ;; --yes) ;; *) form+=("${words[$i]}") ;; esac
      done
      want_frame=$("$cli_linux" frame "${form[@]}" 2>/dev/null)
      got=$(frames_of "${device_log[$first_port]}")
      [ "$got" = "$(for _ in $(seq "$n"); do echo "$want_frame"; done)" ] ||
        fail "$id: frames" "'$(tr '\n' ' ' <<<"$got")' against $n of '$want_frame'" ;;
    nostx:*)
      ! grep -q "STX received" "${device_log[$n]}" || fail "$id: COM$n probed" "$(grep -m 1 STX "${device_log[$n]}")" ;;
    free:*)
      access=$(win "$cli_exe" ports --port "COM$n" 2>&1 </dev/null | tr -d '\r' | sed -n 's/^ *access: //p')
      [ "$access" = "can be opened" ] || fail "$id: COM$n released" "access: '$access'" ;;
  esac
done
[ "$failed" -ne 0 ] || pass "$id"
verdict
