#!/usr/bin/env bash
# installer.sh MSI BUILD64 BUILD32 SIMULATOR
# Tarvex4.msi under Wine as a user meets it: msiexec /i installs both files
# and registers each with the regsvr32 of its size; the C++ client and the
# VBScript mission of both sizes then run against the installed files;
# msiexec /x takes everything away again but the slot settings.  Exits 77
# (skipped) without the package or without a 32-bit loader.
set -uo pipefail
here=$(dirname "$0")
. "$here/sizes.sh"
msi=$1 sim=$4
builds=([64]="$2" [32]="$3")
[ -f "$msi" ] || { echo "no $msi: cmake --build --preset win64 --target tarvex_msi"; exit 77; }
[ -n "$(wine_for 32)" ] || { echo "no 32-bit Wine loader"; exit 77; }
wine64=$(wine_for 64)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
files="${WINEPREFIX:?}/drive_c/Program Files (x86)/Tarvex"
route='HKLM\SOFTWARE\Clients\Route'
tarvex_clsid='HKCR\CLSID\{39E7394A-CFA3-412B-9958-E0ECD090AD11}\InprocServer32'
# A slot setting the package must leave alone.
"$wine64" reg add "$route" /v dvp4 /d 7 /f /reg:32 >/dev/null 2>&1

"$wine64" msiexec /i "$msi" /qn || fail "msiexec /i exited with $?"
for f in Tarvex4.ocx x64/Tarvex4.ocx; do [ -f "$files/$f" ] || fail "$f was not installed"; done
for view in 32 64; do
  "$wine64" reg query "$tarvex_clsid" /reg:$view 2>/dev/null | grep -q 'Program Files (x86)\\Tarvex' ||
    fail "the $view-bit view does not name the installed file"
done
for size in 64 32; do
  "$here/with_modemsim.sh" "$sim" "$(wine_for "$size")" "${builds[$size]}/tests/wine/tarvex_wine_com_tests.exe" \
    >/dev/null 2>&1 || fail "the $size-bit C++ client against the installed file"
  "$here/with_modemsim.sh" "$sim" "$here/host.sh" "$size" cscript "$here/vbscript/mission.vbs" \
    '^[0-9]+ passed, 0 failed$' || fail "the $size-bit VBScript mission against the installed file"
done

"$wine64" msiexec /x "$msi" /qn || fail "msiexec /x exited with $?"
for f in Tarvex4.ocx x64/Tarvex4.ocx; do [ ! -e "$files/$f" ] || fail "$f was left behind"; done
for size in 64 32; do
  TARVEX_EXPECT_UNREGISTERED=all "$(wine_for "$size")" "${builds[$size]}/tests/wine/tarvex_wine_com_tests.exe" \
    --gtest_filter='Registration.*' >/dev/null 2>&1 || fail "the $size-bit registration was left behind"
done
"$wine64" reg query "$route" /v dvp4 /reg:32 2>/dev/null | grep -q 'dvp4.*7' ||
  fail "the slot settings did not survive the uninstallation"
"$wine64" reg delete "$route" /v dvp4 /f /reg:32 >/dev/null 2>&1
[ "$failures" -eq 0 ]
