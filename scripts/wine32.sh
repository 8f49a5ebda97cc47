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
# so the system's dpkg never learns of them), started through the copy of the root's ld.so
# in the root's wine folder (build-windows.sh, wine32_root_fixup, says why).
# Exit status 125 means one thing only: the kernel refuses to run a 32-bit program (a kernel
# booted with ia32_emulation=off); scripts/test-windows.sh then runs the 32-bit checks in a
# guest (scripts/guest32.sh). Any other fault of the 32-bit wine is a failure (status 1)
# saying what failed, so that no test of the 32-bit build can pass without having run.
set -euo pipefail
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
W32=$CACHE/wine32
ROOT32=$W32/root
export WINEPREFIX=${EDOG_WINE32_PREFIX:-$W32/prefix} WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset WINELOADER

no32() {
  echo "wine32: this machine cannot run 32-bit programs: $*" >&2
  exit 125
}
broken() {
  echo "wine32: FAILED: $*" >&2
  exit 1
}

# Runs the 32-bit loader $1 once: a kernel without 32-bit support refuses it with ENOEXEC
# ("Exec format error"), which is the only thing that counts as that.
check_kernel() {
  local out rc=0
  out=$("$1" --version 2>&1 >/dev/null) || rc=$?
  [ $rc -eq 0 ] && return 0
  if [ $rc -eq 126 ] && grep -q 'Exec format error' <<<"$out"; then
    no32 "the kernel refuses the 32-bit program $1 (Exec format error)"
  fi
  broken "the 32-bit loader $1 --version failed with status $rc: $out"
}

# Sets RUN (the command that starts the 32-bit wine) or says why there is none.
find_wine32() {
  if [ -x /usr/lib/wine/wine ] && file -L /usr/lib/wine/wine 2>/dev/null | grep -q 'ELF 32-bit'; then
    [ -e /lib/ld-linux.so.2 ] && check_kernel /lib/ld-linux.so.2
    RUN=(/usr/lib/wine/wine)
    return 0
  fi
  local wine=$ROOT32/usr/lib/wine
  [ -f "$ROOT32/.edog-ready" ] ||
    broken "no 32-bit wine: neither wine32:i386 nor the private root $ROOT32 (scripts/build-windows.sh x86 --deps unpacks it)"
  [ -x "$wine/ld-linux.so.2" ] && [ -x "$wine/wine-preloader" ] ||
    broken "the private root $ROOT32 was unpacked by an older build-windows.sh (scripts/build-windows.sh x86 --deps redoes it)"
  check_kernel "$wine/ld-linux.so.2"
  RUN=("$wine/ld-linux.so.2" --library-path "$ROOT32/lib/i386-linux-gnu:$ROOT32/usr/lib/i386-linux-gnu" "$wine/wine")
  # The root's own wineserver script looks for the system's; the 64-bit one of the same
  # version serves 32-bit programs.
  [ -x /usr/lib/wine/wineserver64 ] || broken "no /usr/lib/wine/wineserver64 (Debian package wine64)"
  export WINESERVER=/usr/lib/wine/wineserver64
}

# The prefix, made once and only by one of the programs that may start at the same time.
# The registry is written when the wine server ends: it is waited for before the check.
make_prefix() {
  [ -f "$WINEPREFIX/.edog-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock -w 600 9 || broken "waited 10 minutes for another wine32 to make $WINEPREFIX"
  if [ ! -f "$WINEPREFIX/.edog-ready" ]; then
    local log=$W32/wineboot.log start=$SECONDS
    rm -rf "$WINEPREFIX"
    local rc=0 booted
    timeout 600 "${RUN[@]}" wineboot --init >"$log" 2>&1 || rc=$?
    [ $rc -ne 124 ] || broken "wineboot --init did not end within 10 minutes in $WINEPREFIX (log $log)"
    booted=$SECONDS
    timeout 600 "${WINESERVER:-wineserver}" -w ||
      broken "the wine server did not end within 10 minutes after wineboot in $WINEPREFIX"
    # wineboot's own status is not reliable on a very slow machine (it gives up waiting for
    # its helpers); the registry the server wrote at its end is.
    grep -q '^\[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\]' "$WINEPREFIX/system.reg" 2>/dev/null ||
      broken "wineboot --init (status $rc) made no complete registry in $WINEPREFIX: $(tail -n 3 "$log" | tr '\n' ' ')(log $log)"
    [ $rc -eq 0 ] || echo "wine32: wineboot --init ended with status $rc, but the prefix is complete" >&2
    touch "$WINEPREFIX/.edog-ready"
    echo "wine32: made the prefix $WINEPREFIX: wineboot $((booted - start)) s, its end $((SECONDS - booted)) s" >&2
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
