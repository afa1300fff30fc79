#!/usr/bin/env bash
# registration.sh register|unregister SIZE BUILD OTHER_BUILD
# Registers this size's Tarvex4.ocx (BUILD is its build tree) and, when the
# other size's build and loader are there, the other one beside it, so every
# test runs with both files registered, as on a 64-bit Windows where both are
# installed.  "unregister" takes this file away first and checks, with each
# size's own test program, that the other's registration still serves and
# that nothing of this one's is left; then the other's, and checks that
# nothing of either is left.
set -uo pipefail
. "$(dirname "$0")/sizes.sh"
action=$1 size=$2 build=$3 other_build=$4
other=$((96 - size))
ocx=$build/src/component/Tarvex4.ocx
other_ocx=$other_build/src/component/Tarvex4.ocx
com=$build/tests/wine/tarvex_wine_com_tests.exe
other_com=$other_build/tests/wine/tarvex_wine_com_tests.exe
both=""
[ -f "$other_ocx" ] && [ -n "$(wine_for "$other")" ] && both=1

# check SIZE PROGRAM EXPECTATION: the registration tests of one size's
# program; EXPECTATION is empty (all registered), "own" or "all" (removed).
check() {
  local out
  if ! out=$(TARVEX_EXPECT_UNREGISTERED=$3 "$(wine_for "$1")" "$2" --gtest_filter='Registration.*' 2>&1); then
    echo "$out"
    echo "the $1-bit registration is not as expected (${3:-registered})" >&2
    return 1
  fi
}

case $action in
  register)
    for pair in "$size:$ocx" ${both:+"$other:$other_ocx"}; do
      regsvr32_for "${pair%%:*}" /s "${pair#*:}" || { echo "regsvr32 ${pair#*:} failed" >&2; exit 1; }
    done
    echo "registered the $size-bit file${both:+ and the $other-bit one}"
    ;;
  unregister)
    status=0
    regsvr32_for "$size" /u /s "$ocx" || status=1
    if [ -n "$both" ]; then
      check "$other" "$other_com" "" || status=1
      check "$size" "$com" own || status=1
      regsvr32_for "$other" /u /s "$other_ocx" || status=1
      check "$other" "$other_com" all || status=1
    fi
    check "$size" "$com" all || status=1
    exit $status
    ;;
  *) echo "usage: registration.sh register|unregister SIZE BUILD OTHER_BUILD" >&2; exit 2 ;;
esac
