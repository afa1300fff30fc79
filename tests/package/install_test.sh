#!/usr/bin/env bash
# Installs the build into an empty prefix and builds the example against it
# twice, with find_package(Tarvex) and with pkg-config; both must run.  FLAGS
# are the build's own (a sanitizer build's library needs its runtime).
# Usage: install_test.sh BUILD_DIR EXAMPLE_DIR CXX [FLAGS]
set -euo pipefail
build=$1 example=$2 cxx=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir "$work/store"

cmake -S "$example" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags -Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/example" "$work/store"

pc=$(find "$work/prefix" -name tarvex.pc -printf '%h')
# shellcheck disable=SC2046,SC2086  # flags and pkg-config's words are meant to split
"$cxx" $flags -std=c++20 -Wall -Wextra -Werror -o "$work/example-pc" "$example/example.cpp" \
  $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs tarvex)
"$work/example-pc" "$work/store"
"$work/prefix/bin/tarvex" --version
