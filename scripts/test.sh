#!/usr/bin/env bash
# Set up, build every preset, and run every test: the unit and end-to-end tests
# on the plain build and again under AddressSanitizer/UBSan; the Windows
# component for x86_64 with its tests under Wine (against the Linux build's
# modem simulator), and for i686 (compiled and linked only: no 32-bit Wine
# here); then each fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh windows
jobs=$(nproc)
for preset in linux linux-asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
echo "== win64 (tests under Wine)"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"
scripts/with-wine.sh ctest --preset win64
echo "== win32 (build only)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
echo "== fuzz (smoke run)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
for f in build/fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  echo "-- $(basename "$f")"
  "$f" -max_total_time="${TARVEX_FUZZ_SECONDS:-20}" -print_final_stats=0 2>&1 | tail -n 2
done
echo "All tests passed."
