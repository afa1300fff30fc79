#!/usr/bin/env bash
# with_modemsim.sh [--hangup] SIMULATOR COMMAND...
# Runs COMMAND with the Linux modem simulator behind the Wine COM port
# $TARVEX_TEST_COM (default 5): the simulator's pseudo-terminal is linked as
# $WINEPREFIX/dosdevices/comN, so \\.\COMN inside Wine is the simulated modem.
# The simulator keeps a demo inbox and takes messages sent to +15550100 back
# into it.  With --hangup a second one, which hangs up at its first command
# line, serves $TARVEX_TEST_COM_HANGUP (default 6), so that a device going
# away under an open port can be seen.  Everything is removed again, whatever
# COMMAND does.
set -euo pipefail
hangup=""
[ "$1" = --hangup ] && { hangup=1; shift; }
sim=$1
shift
prefix=${WINEPREFIX:?WINEPREFIX must name the Wine prefix}
pids=() files=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -f "${files[@]}"
}
trap cleanup EXIT
# serve VARIABLE PORT SIMULATOR-OPTIONS...: exports VARIABLE=PORT once that
# port is the simulator's terminal.
serve() {
  local variable=$1 port=$2 out
  shift 2
  out=$(mktemp)
  files+=("$out" "$prefix/dosdevices/com$port")
  "$sim" "$@" >"$out" &
  pids+=($!)
  # The simulator prints its terminal's path as its only line once it serves.
  for _ in $(seq 100); do
    [ -s "$out" ] && break
    kill -0 "${pids[-1]}" 2>/dev/null || { echo "modem simulator did not start" >&2; exit 1; }
    sleep 0.05
  done
  [ -s "$out" ] || { echo "modem simulator printed no terminal" >&2; exit 1; }
  ln -sfn "$(head -n1 "$out")" "$prefix/dosdevices/com$port"
  export "$variable=$port"
}
serve TARVEX_TEST_COM "${TARVEX_TEST_COM:-5}" --demo-inbox --loopback +15550100
[ -n "$hangup" ] && serve TARVEX_TEST_COM_HANGUP "${TARVEX_TEST_COM_HANGUP:-6}" --hangup-after 0
"$@"
