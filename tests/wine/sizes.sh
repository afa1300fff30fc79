# sizes.sh: sourced by the Wine test scripts.  One 64-bit Wine prefix holds
# both files, as a 64-bit Windows does: the x86_64 one run by the 64-bit
# loader from C:\windows\system32, the i686 one by the 32-bit loader (Debian's
# wine32:i386) from C:\windows\syswow64.  Once wine32 is installed,
# /usr/bin/wine is the 32-bit loader, so the 64-bit one is named explicitly.

# wine_for SIZE: the loader that runs SIZE-bit programs, empty when this
# machine has none (no wine32 for 32).
wine_for() {
  case $1 in
    64) if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else echo /usr/bin/wine; fi ;;
    32) if [ -x /usr/lib/wine/wine ]; then echo /usr/lib/wine/wine; fi ;;
    *) echo "size must be 32 or 64, not '$1'" >&2; return 1 ;;
  esac
}

# system_dir SIZE: where that size's system programs (regsvr32, cscript) live.
system_dir() {
  if [ "$1" = 32 ]; then echo 'C:\windows\syswow64'; else echo 'C:\windows\system32'; fi
}

# regsvr32_for SIZE ARGS...: the system's regsvr32 of that size.
regsvr32_for() {
  local size=$1
  shift
  "$(wine_for "$size")" "$(system_dir "$size")\\regsvr32.exe" "$@"
}
