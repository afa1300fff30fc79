#!/usr/bin/env bash
# with_modemsim.sh SIMULATOR COMMAND...
# Runs COMMAND (the platform tests) with two simulated modems behind Wine COM
# ports: the ordinary one of ../with_modemsim.sh as $TARVEX_TEST_COM (default
# 5), and one that hangs up at its first command line as
# $TARVEX_TEST_COM_HANGUP (default 6), so a device that goes away under an open
# port can be seen.  Everything is removed again, whatever COMMAND does.
set -euo pipefail
sim=$1
shift
port=${TARVEX_TEST_COM_HANGUP:-6}
prefix=${WINEPREFIX:?WINEPREFIX must name the Wine prefix}
link="$prefix/dosdevices/com$port"
out=$(mktemp)
"$sim" --hangup-after 0 >"$out" &
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
export TARVEX_TEST_COM_HANGUP=$port
"$(dirname "$0")/../with_modemsim.sh" "$sim" "$@"
