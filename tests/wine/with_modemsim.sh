#!/usr/bin/env bash
# with_modemsim.sh SIMULATOR COMMAND...
# Runs COMMAND with the Linux modem simulator behind the Wine COM port
# $TARVEX_TEST_COM (default 5): the simulator's pseudo-terminal is linked as
# $WINEPREFIX/dosdevices/comN, so \\.\COMN inside Wine is the simulated modem.
# The simulator keeps a demo inbox and takes messages sent to +15550100 back
# into it.  Everything is removed again, whatever COMMAND does.
set -euo pipefail
sim=$1
shift
port=${TARVEX_TEST_COM:-5}
prefix=${WINEPREFIX:?WINEPREFIX must name the Wine prefix}
link="$prefix/dosdevices/com$port"
out=$(mktemp)
"$sim" --demo-inbox --loopback +15550100 >"$out" &
sim_pid=$!
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$link" "$out"
}
trap cleanup EXIT
# The simulator prints its terminal's path as its only line once it serves.
for _ in $(seq 100); do
  [ -s "$out" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "modem simulator did not start" >&2; exit 1; }
  sleep 0.05
done
pty=$(head -n1 "$out")
[ -n "$pty" ] || { echo "modem simulator printed no terminal" >&2; exit 1; }
ln -sfn "$pty" "$link"
export TARVEX_TEST_COM=$port
"$@"
