#!/usr/bin/env bash
# Set up, build every preset, and run every test: the unit and end-to-end tests
# on the plain build and again under AddressSanitizer/UBSan; the Windows
# component for i686 and x86_64 and its installer, with the tests of both
# sizes under Wine in one prefix (against the Linux build's modem simulator);
# then each fuzz target for a short while.
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
echo "== win32, win64 and Tarvex4.msi"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
cmake --build --preset win64 --target tarvex_msi
echo "== Windows tests under Wine (both sizes, one prefix)"
# Both presets run, whatever the first gives, so that one run shows every failure.
scripts/with-wine.sh sh -c 'ctest --preset win64; s=$?; ctest --preset win32 && exit $s'
echo "== fuzz (smoke run)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
for f in build/fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  echo "-- $(basename "$f")"
  "$f" -max_total_time="${TARVEX_FUZZ_SECONDS:-20}" -print_final_stats=0 2>&1 | tail -n 2
done
echo "All tests passed."
