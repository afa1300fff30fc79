#!/usr/bin/env bash
# Set up, build every preset, and run every test: the unit and end-to-end tests
# on the plain build and again under AddressSanitizer/UBSan, then each fuzz
# target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
for preset in linux linux-asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
echo "== fuzz (smoke run)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
for f in build/fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  echo "-- $(basename "$f")"
  "$f" -max_total_time="${TARVEX_FUZZ_SECONDS:-20}" -print_final_stats=0 2>&1 | tail -n 2
done
echo "All tests passed."
