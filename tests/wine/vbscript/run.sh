#!/usr/bin/env bash
# run.sh SCRIPT.vbs
# Runs a VBScript host test with Wine's cscript against the modem on COM port
# $TARVEX_TEST_COM (see with_modemsim.sh): slot 1 of the machine-wide store
# points at it for the run.  Wine's cscript hides script errors (it prints
# nothing and exits 0), so a script proves it ran to its end by printing
# "N passed, M failed" last; anything else fails the test.
set -uo pipefail
cd "$(dirname "$0")"
route='HKLM\SOFTWARE\Clients\Route'
names='HKLM\SOFTWARE\DevName\Device'
wine reg add "$route" /v dvp1 /d "${TARVEX_TEST_COM:?}" /f >/dev/null
wine reg add "$route" /v dvb1 /d 115200 /f >/dev/null
wine reg add "$names" /v dvn1 /d "Mission modem" /f >/dev/null
# Relative path: cscript prints nothing for an absolute Unix path.
output=$(wine cscript //nologo "$1" 2>&1 | tr -d '\r')
status=$?
for v in dvp1 dvb1; do wine reg delete "$route" /v "$v" /f >/dev/null 2>&1; done
wine reg delete "$names" /v dvn1 /f >/dev/null 2>&1
echo "$output"
last=$(printf '%s\n' "$output" | grep -v '^$' | tail -n1)
if [ "$status" -ne 0 ] || ! [[ "$last" =~ ^[0-9]+\ passed,\ 0\ failed$ ]]; then
  echo "the script did not finish cleanly (last line: '$last')" >&2
  exit 1
fi
