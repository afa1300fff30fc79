#!/usr/bin/env bash
# host.sh SIZE cscript SCRIPT PATTERN...
# host.sh SIZE run PROGRAM PATTERN...
# Runs a host of one size against the modem on COM port $TARVEX_TEST_COM (see
# with_modemsim.sh): a script under that size's cscript, or a program under
# that size's loader.  Slot 1 points at the modem for the run, written as a
# Windows user configures a slot without the dialog (reg add ... /reg:32: the
# view that hosts of both sizes read).  Every PATTERN (grep -E) must match a
# line of the output: Wine's cscript hides script errors (it prints nothing
# and exits 0), so a script proves it ran to its end by what it prints.
set -uo pipefail
. "$(dirname "$0")/sizes.sh"
size=$1 kind=$2 target=$3
shift 3
wine=$(wine_for "$size")
[ -n "$wine" ] || { echo "no $size-bit Wine loader" >&2; exit 1; }
reg() { "$(wine_for 64)" reg "$@" /reg:32 >/dev/null 2>&1; }
route='HKLM\SOFTWARE\Clients\Route'
names='HKLM\SOFTWARE\DevName\Device'
reg add "$route" /v dvp1 /d "${TARVEX_TEST_COM:?}" /f
reg add "$route" /v dvb1 /d 115200 /f
reg add "$names" /v dvn1 /d "Mission modem" /f
case $kind in
  # From the script's folder with a relative path: cscript prints nothing for
  # an absolute Unix path.
  cscript) output=$(cd "$(dirname "$target")" &&
                    "$wine" "$(system_dir "$size")\\cscript.exe" //nologo "$(basename "$target")" 2>&1 | tr -d '\r') ;;
  run) output=$("$wine" "$target" 2>&1 | tr -d '\r') ;;
  *) echo "host.sh: cscript or run, not '$kind'" >&2; exit 2 ;;
esac
status=$?
for value in dvp1 dvb1; do reg delete "$route" /v $value /f; done
reg delete "$names" /v dvn1 /f
echo "$output"
[ "$status" -eq 0 ] || { echo "the $size-bit host exited with $status" >&2; exit 1; }
for pattern in "$@"; do
  printf '%s\n' "$output" | grep -Eq -- "$pattern" ||
    { echo "the $size-bit host did not print a line matching '$pattern'" >&2; exit 1; }
done
