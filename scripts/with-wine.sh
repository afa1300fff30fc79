#!/usr/bin/env bash
# with-wine.sh COMMAND...
# Runs COMMAND with what the Windows tests need: a private Wine prefix
# (build/wineprefix unless WINEPREFIX says otherwise, made on first use), a
# virtual X display for windows and dialogs, and a wineserver kept running so
# that each test starts in a fraction of a second.  Stops them afterwards.
# The prefix is a 64-bit one; with wine32 installed it runs 32-bit programs
# too (from C:\windows\syswow64), as a 64-bit Windows does.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wineprefix}
export WINEDEBUG=-all
# Wine binds to a display at its first start, so the display comes first.
display=""
for n in $(seq 90 150); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.05
done
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX (once)"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  # Unmanaged windows: dialogs come up at once instead of after a window
  # manager's delay.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  # The server that command started lingers; a persistent one can only start
  # after it has gone.
  wineserver -w || true
elif [ -x /usr/lib/wine/wine ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/cscript.exe" ]; then
  # Made before wine32 was installed: give it the 32-bit side.
  echo "Adding the 32-bit side to the Wine prefix $WINEPREFIX (once)"
  wineboot -u >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Exits non-zero when a server for this prefix already runs, which is as good.
wineserver -p >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1
"$@"
