#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build and the tests need,
# but only those that are missing.  Safe to run again.  With "windows", also
# what the Windows face needs: the mingw-w64 cross compilers, widl and
# windres, Wine of both sizes to run the tests (wine32 from the i386
# architecture, which this then enables), wixl and msibuild for the
# installer, and Xvfb for a display.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev pkg-config
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          libsqlite3-dev libncurses-dev nlohmann-json3-dev libcli11-dev tmux python3 help2man)
if [ "${1:-}" = windows ]; then
  packages+=(wine wine64 libwine-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools
             wine32:i386 wixl msitools xvfb x11-utils imagemagick socat)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
