#!/usr/bin/env bash
# build_msi.sh OUT.msi VERSION I686_OCX X86_64_OCX
# Packs both files into OUT.msi: wixl builds the package from Tarvex4.wxs, and
# msibuild adds what wixl cannot write (msi_actions.sql: the registration
# custom actions and the x86_64 component's condition).
set -euo pipefail
out=$1 version=$2 ocx32=$3 ocx64=$4
here=$(cd "$(dirname "$0")" && pwd)
for f in "$ocx32" "$ocx64"; do
  [ -f "$f" ] || { echo "$f is missing: build the win32 and the win64 preset first" >&2; exit 1; }
done
command -v wixl >/dev/null && command -v msibuild >/dev/null ||
  { echo "wixl and msibuild are missing: scripts/setup.sh windows installs them" >&2; exit 1; }
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
# wixl takes the files' sources as paths relative to where it runs.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/i686" "$stage/x86_64"
cp "$ocx32" "$stage/i686/Tarvex4.ocx"
cp "$ocx64" "$stage/x86_64/Tarvex4.ocx"
tmp="$stage/Tarvex4.msi"
(cd "$stage" && wixl -D Version="$version" -o "$tmp" "$here/Tarvex4.wxs")
queries=()
while IFS= read -r query; do
  [ -n "$query" ] && queries+=(-q "$query")
done <"$here/msi_actions.sql"
msibuild "$tmp" "${queries[@]}"
mv "$tmp" "$out"
