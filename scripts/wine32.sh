#!/usr/bin/env bash
# Runs a 32-bit Windows program under a 32-bit wine, in the private prefix
# $EDOG_WIN_CACHE/wine32/prefix (WINEARCH=win32), never in ~/.wine:
#
#   scripts/wine32.sh PROGRAM.exe ARGS...   run it (the x86 build's CMAKE_CROSSCOMPILING_EMULATOR)
#   scripts/wine32.sh --check               exit 0 if 32-bit programs can run here, else say why
#
# The wine is Debian's wine32 (8.0): the system's own when `wine32:i386` is installed, else
# the private i386 root that `scripts/build-windows.sh x86` unpacks into
# $EDOG_WIN_CACHE/wine32/root (the archive's i386 packages, fetched with a private apt state,
# so the system's dpkg never learns of them), started through that root's own ld.so.
# Both need a kernel that runs 32-bit Linux programs. Where that is missing (a kernel booted
# with ia32_emulation=off) nothing 32-bit can run: the script says so and exits 125, so
# that no test of the 32-bit build can pass without having run.
set -euo pipefail
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
W32=$CACHE/wine32
ROOT32=$W32/root
export WINEPREFIX=${EDOG_WINE32_PREFIX:-$W32/prefix} WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

no32() {
  echo "wine32: CANNOT RUN 32-bit Windows programs here: $*" >&2
  exit 125
}

# Sets RUN (the command that starts the 32-bit loader) or explains why there is none.
find_wine32() {
  if [ -x /usr/lib/wine/wine ] && file -L /usr/lib/wine/wine 2>/dev/null | grep -q 'ELF 32-bit'; then
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
      no32 "the system's /usr/lib/wine/wine does not start (does this kernel run 32-bit programs?)"
    RUN=(/usr/lib/wine/wine)
    return 0
  fi
  local ld=$ROOT32/lib/ld-linux.so.2
  [ -x "$ld" ] && [ -x "$ROOT32/usr/lib/wine/wine" ] ||
    no32 "no 32-bit wine: neither wine32:i386 nor the private root $ROOT32 (scripts/build-windows.sh x86 --deps unpacks it)"
  if ! "$ld" --version >/dev/null 2>&1; then
    if dmesg 2>/dev/null | grep '32-bit emulation disabled' >/dev/null; then
      no32 "this kernel runs no 32-bit Linux programs (booted with ia32_emulation=off)"
    fi
    no32 "the kernel refuses the 32-bit loader $ld ($("$ld" --version 2>&1 | head -n 1))"
  fi
  local lp=$ROOT32/lib/i386-linux-gnu:$ROOT32/usr/lib/i386-linux-gnu
  export WINELOADER=$W32/bin/wine
  # The root's wine binary asks for /lib/ld-linux.so.2, which this system lacks: a small
  # loader script starts it, and wine starts its further processes through it too.
  if [ ! -x "$WINELOADER" ]; then
    mkdir -p "$W32/bin"
    printf '#!/bin/sh\nexec "%s" --library-path "%s" "%s" "$@"\n' "$ld" "$lp" "$ROOT32/usr/lib/wine/wine" \
      >"$WINELOADER.tmp"
    chmod +x "$WINELOADER.tmp" && mv "$WINELOADER.tmp" "$WINELOADER"
  fi
  export WINEDLLPATH=$ROOT32/usr/lib/i386-linux-gnu/wine
  export WINESERVER=$ROOT32/usr/lib/wine/wineserver32
  [ -x /usr/lib/wine/wineserver64 ] && WINESERVER=/usr/lib/wine/wineserver64  # same wine version
  RUN=("$WINELOADER")
}

# The prefix, made once and only by one of the programs that may start at the same time.
make_prefix() {
  [ -f "$WINEPREFIX/.edog-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock -w 600 9 || no32 "waited 10 minutes for another wine32 to make $WINEPREFIX"
  if [ ! -f "$WINEPREFIX/.edog-ready" ]; then
    rm -rf "$WINEPREFIX"
    timeout 300 "${RUN[@]}" wineboot --init >"$W32/wineboot.log" 2>&1 ||
      no32 "wineboot failed in $WINEPREFIX (see $W32/wineboot.log)"
    [ -f "$WINEPREFIX/system.reg" ] || no32 "wineboot made no registry in $WINEPREFIX"
    touch "$WINEPREFIX/.edog-ready"
  fi
  exec 9>&-
}

RUN=()
find_wine32
if [ "${1:-}" = "--check" ]; then
  make_prefix
  echo "wine32: 32-bit programs run with ${RUN[*]} in $WINEPREFIX"
  exit 0
fi
[ $# -ge 1 ] || { echo "usage: scripts/wine32.sh PROGRAM.exe [ARGS...] | --check" >&2; exit 2; }
make_prefix
exec "${RUN[@]}" "$@"
