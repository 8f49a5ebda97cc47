#!/usr/bin/env bash
# Cross-builds edog for Windows on Debian and packs the zips into dist/.
#
#   scripts/build-windows.sh [x86|x64]            packages, libraries (first time), programs,
#                                                 zips (x86; the x64 zips: below)
#   scripts/build-windows.sh [x86|x64] --deps     packages and libraries only
#   scripts/build-windows.sh [x86|x64] --no-gui   without wxWidgets: edogtool, the libraries,
#                                                 the stand-ins and the tests; no window, no zip
#
# x86 (the default) is the build users get: it runs on 32- and 64-bit Windows and loads the
# vendor's 32-bit DLLs. x64 is kept as a second target; its zips are made by
# scripts/test-windows.sh x64 once the window it built has opened and done its update, so
# no x64 zip exists that no test opened. Build folders build-windows-x86/ and
# build-windows/ (presets windows-x86 and windows).
#
# Debian packages only: MinGW-w64 (posix threads), wine to run the results, zlib for MinGW,
# qemu and busybox for the 32-bit guest (scripts/guest32.sh).
# Two libraries are not packaged for MinGW and are built once per architecture from
# Debian's own source packages into $EDOG_WIN_CACHE (default ~/.cache/edog), outside every
# build folder:
#   wx-msw-x86/, wx-msw/    wxWidgets 3.2, static MSW, without the parts whose bundled
#             sources the Debian source package strips (PNG/JPEG/TIFF/expat readers, web
#             view, media): our pictures are drawn in code. Only its base and core libraries
#             are linked, so the controls and services no window of ours uses are left out.
#   mingw-x86/, mingw/      GoogleTest (from /usr/src/googletest) and the stb_image header.
# For x86 also the private 32-bit wine root wine32/root (see wine32_root below and
# scripts/wine32.sh). The stand-in voice encoder has its own G.726 model: no codec library
# for MinGW. Heavy builds run under `nice -n 19` so that other builds keep priority
# (EDOG_BUILD_NICE sets another niceness: CI's run gives 0, its budget comes first).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
ARCH=x86
case "${1:-}" in x86|x64) ARCH=$1; shift ;; esac
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
SRC=$CACHE/src
JOBS=${EDOG_WIN_JOBS:-2}
NICE=(nice -n "${EDOG_BUILD_NICE:-19}")
if [ "$ARCH" = x64 ]; then
  HOST=x86_64-w64-mingw32 PREFIX=$CACHE/mingw WX=$CACHE/wx-msw WXBUILD=$CACHE/wx-build
  PRESET=windows TOOLCHAIN=mingw-w64-x86_64.cmake BUILDDIR=build-windows
else
  HOST=i686-w64-mingw32 PREFIX=$CACHE/mingw-x86 WX=$CACHE/wx-msw-x86 WXBUILD=$CACHE/wx-build-x86
  PRESET=windows-x86 TOOLCHAIN=mingw-w64-i686.cmake BUILDDIR=build-windows-x86
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

log() { echo "build-windows: $*"; }

install_packages() {
  local want=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
              g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix libz-mingw-w64-dev
              wine wine64 dpkg-dev zip unzip libstb-dev xvfb xauth fonts-arphic-uming x11-apps
              imagemagick espeak-ng sox python3 locales
              qemu-system-x86 busybox-static)
  # espeak-ng, sox: the demo package's voice prompts; locales: the code pages' Unix locales;
  # qemu-system-x86, busybox-static: the guest that runs the 32-bit programs where this
  # kernel refuses them (scripts/guest32.sh)
  local missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  $SUDO apt-get update -qq || log "apt-get update reported errors (an index of the archive); carrying on"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# A deb-src entry for the very archive the system installs from, so `apt-get source`
# gives the sources of the versions we would otherwise install.
enable_sources() {
  local list=/etc/apt/sources.list.d/edog-src.sources
  [ -f "$list" ] && return 0
  local uris suites
  uris=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  suites=$(. /etc/os-release && echo "$VERSION_CODENAME")
  uris=${uris:-http://deb.debian.org/debian}
  log "adding deb-src for $uris $suites"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uris" "$suites" "$suites" | $SUDO tee "$list" >/dev/null
  $SUDO apt-get update -qq || log "apt-get update reported errors (an index of the archive); carrying on"
}

# Downloads and unpacks a Debian source package into $SRC/<dir>; only the upstream tarball
# is needed (the Debian patches concern Linux packaging).
fetch_source() {
  local pkg=$1 dir=$2
  [ -d "$SRC/$dir" ] && return 0
  mkdir -p "$SRC"
  (cd "$SRC" && apt-get source -qq --download-only "$pkg" 2>/dev/null || true)
  local orig
  orig=$(ls "$SRC"/"${pkg}"_*.orig.tar.* 2>/dev/null | head -n1)
  [ -n "$orig" ] || { echo "build-windows: no source for $pkg" >&2; exit 1; }
  local tmp=$SRC/.unpack-$dir
  rm -rf "$tmp" && mkdir -p "$tmp"
  tar -xf "$orig" -C "$tmp"
  mv "$tmp"/* "$SRC/$dir" && rmdir "$tmp"
}

# Header-only libraries of the build machine the cross build shares (BMP decoding).
stage_headers() {
  [ -f "$PREFIX/include/stb/stb_image.h" ] && return 0
  mkdir -p "$PREFIX/include/stb"
  cp /usr/include/stb/stb_image.h "$PREFIX/include/stb/"
}

build_gtest() {
  [ -f "$PREFIX/lib/libgtest.a" ] && return 0
  log "building GoogleTest ($ARCH)"
  local b=$CACHE/gtest-build-$ARCH
  rm -rf "$b"
  cmake -S /usr/src/googletest -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TOOLCHAIN" -DEDOG_WIN_CACHE="$CACHE" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF >/dev/null
  "${NICE[@]}" cmake --build "$b" -j"$JOBS" >/dev/null
  cmake --install "$b" >/dev/null
}

build_wx() {
  [ -x "$WX/bin/wx-config" ] && return 0
  fetch_source wxwidgets3.2 wxwidgets
  log "building wxWidgets ($ARCH: static MSW, base and core); the first build takes long"
  local b=$WXBUILD start
  start=$(date +%s)
  rm -rf "$b" && mkdir -p "$b"
  (cd "$b" && "$SRC/wxwidgets/configure" --host=$HOST --build="$(gcc -dumpmachine)" \
    CC=$HOST-gcc-posix CXX=$HOST-g++-posix CFLAGS=-O2 CXXFLAGS=-O2 \
    --prefix="$WX" --with-msw --disable-shared --enable-unicode \
    --disable-debug --disable-debug_info --disable-precomp-headers \
    --with-zlib=sys --without-libpng --without-libjpeg --without-libtiff --without-expat \
    --without-regex --without-liblzma --without-libcurl --without-opengl --without-nanosvg \
    --disable-xrc --disable-html --disable-htmlhelp --disable-aui --disable-propgrid \
    --disable-ribbon --disable-stc --disable-richtext --disable-mediactrl --disable-webview \
    --disable-webrequest --disable-svg --disable-secretstore --disable-sound --disable-help \
    --disable-mshtmlhelp --disable-webviewie --disable-webviewedge \
    --disable-sockets --disable-ipc --disable-url --disable-protocols --disable-fs_inet \
    --disable-debugreport --disable-fswatcher --disable-joystick --disable-uiactionsim \
    --disable-grid --disable-dataviewctrl --disable-treelist --disable-calendar \
    --disable-datepick --disable-timepick --disable-animatectrl --disable-splash \
    --disable-wizarddlg --disable-richtooltip --disable-notifmsg --disable-mdi \
    --disable-mdidoc --disable-docview --disable-aboutdlg --disable-addremovectrl \
    --disable-bannerwindow --disable-commandlinkbutton --disable-hyperlink \
    --disable-odcombobox --disable-bmpcombobox --disable-rearrangectrl \
    --disable-tipwindow --disable-tipdlg --disable-fontpicker --disable-colourpicker \
    --disable-dirpicker --disable-filepicker --disable-treebook --disable-toolbook \
    --disable-listbook --disable-choicebook --disable-busyinfo --disable-sash \
    --disable-taskbaricon --disable-taskbarbutton --disable-infobar \
    --disable-dragimage \
    >"$b/configure.log")
  "${NICE[@]}" make -C "$b" -j"$JOBS" >"$b/make.log" 2>&1 ||
    { tail -n 40 "$b/make.log" >&2; echo "build-windows: wxWidgets failed, log $b/make.log" >&2; exit 1; }
  make -C "$b" install >/dev/null
  echo "$(( $(date +%s) - start )) s" >"$WX/BUILD_SECONDS"
  log "wxWidgets built in $(cat "$WX/BUILD_SECONDS")"
}

# The private wine prefix every Windows program of ours runs in ($CACHE/wine: the toolchain
# file hands it to ctest and the build's own runs). Made once, before anything runs in it,
# so that no two programs race to create it; wineboot gets a bounded time.
wine_prefix() {
  export WINEPREFIX=$CACHE/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/.edog-ready" ] && return 0
  log "making the wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
  local tries
  for tries in 1 2; do
    if timeout 300 wineboot --init >"$CACHE/wineboot.log" 2>&1 && timeout 120 wineserver -w &&
       [ -f "$WINEPREFIX/system.reg" ]; then
      touch "$WINEPREFIX/.edog-ready"
      return 0
    fi
    log "wineboot attempt $tries failed: $(tail -n 1 "$CACHE/wineboot.log")"
    wineserver -k 2>/dev/null || true
  done
  echo "build-windows: no wine prefix in $WINEPREFIX (see $CACHE/wineboot.log)" >&2
  return 1
}

# The private 32-bit wine root for scripts/wine32.sh: Debian's wine32 and libwine for i386
# (the version of the system's wine64) with their i386 dependencies, fetched by apt with a
# state, cache and source list of its own under $CACHE/wine32/apt and unpacked with
# `dpkg-deb -x` into $CACHE/wine32/root. The system's dpkg never gets the i386 architecture:
# its i386 security index has been inconsistent on these machines ("File has unexpected
# size"), which would make every later `apt-get update` report errors. Only the release
# suite is used (wine has no security update in bookworm). A failure here is reported and
# left to scripts/wine32.sh to explain; it does not abort the build.
# `dpkg-deb -x` runs no maintainer script, so what they do is done here (wine32_root_fixup).
# The root's .edog-ready holds WINE32_ROOT_LAYOUT: a root unpacked by an older way is redone.
WINE32_ROOT_LAYOUT=2
wine32_root() {
  local w=$CACHE/wine32 a=$CACHE/wine32/apt
  [ "$(cat "$w/root/.edog-ready" 2>/dev/null)" = "$WINE32_ROOT_LAYOUT" ] && return 0
  [ -x /usr/lib/wine/wine ] && return 0  # the system has wine32 itself
  log "fetching the private 32-bit wine root into $w/root"
  mkdir -p "$a/state/lists/partial" "$a/cache/archives/partial" "$a/etc"
  : >"$a/state/status"
  local suite version
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'deb [arch=i386 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian %s main\n' \
    "$suite" >"$a/etc/sources.list"
  local apt=(apt-get -q -o Dir::Etc::SourceList="$a/etc/sources.list" -o Dir::Etc::SourceParts=/nonexistent
             -o Dir::State="$a/state" -o Dir::State::status="$a/state/status" -o Dir::Cache="$a/cache"
             -o APT::Architecture=i386 -o APT::Architectures=i386 -o Debug::NoLocking=1
             -o APT::Sandbox::User=root)
  "${apt[@]}" update >"$w/apt.log" 2>&1 || log "private apt-get update reported errors (see $w/apt.log)"
  version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
  local want=(wine32 libwine)
  [ -n "$version" ] && want=("wine32=$version" "libwine=$version")
  if ! "${apt[@]}" install -y --download-only --no-install-recommends "${want[@]}" >>"$w/apt.log" 2>&1; then
    log "could not fetch the 32-bit wine packages (see $w/apt.log); 32-bit programs will not run"
    return 0
  fi
  rm -rf "$w/root.tmp" && mkdir -p "$w/root.tmp"
  local deb
  for deb in "$a"/cache/archives/*.deb; do dpkg-deb -x "$deb" "$w/root.tmp"; done
  if ! wine32_root_fixup "$w/root.tmp"; then
    log "could not complete the 32-bit wine root (above); 32-bit programs will not run"
    return 0
  fi
  rm -rf "$w/root" && mv "$w/root.tmp" "$w/root"
  rm -f "$a"/cache/archives/*.deb
  echo "$WINE32_ROOT_LAYOUT" >"$w/root/.edog-ready"
}

# What the packages' install would have done, and what starting the root's wine from a
# folder other than / needs:
#   * libwine's install script makes wine's builtin zlib1.dll (user32.dll needs it) from
#     libz-mingw-w64's DLL, marked as a wine builtin in its DOS header;
#   * wine takes its own folder from /proc/self/exe, which is the ELF loader when the root's
#     wine is started as `ld-linux.so.2 wine`: a copy of the loader (not a link: the kernel
#     names the target) in the wine folder makes that folder wine's, so wine finds its nls
#     data and itself there. Wine then starts itself again as `wine-preloader WINE ARGS`
#     (else as WINE, which the kernel would load through /lib/ld-linux.so.2, which this
#     system lacks): `wine-preloader` is a script that starts it through the copied loader;
#   * the PE files of wine's DLLs carry their debug data (550 MB): stripped of it (200 MB),
#     they are quicker to load and to copy into a guest's memory (scripts/guest32.sh).
wine32_root_fixup() {
  local r=$1 wine=$1/usr/lib/wine lp
  local dll=$r/usr/i686-w64-mingw32/lib/zlib1.dll
  [ -f "$dll" ] || dll=/usr/i686-w64-mingw32/lib/zlib1.dll
  [ -f "$dll" ] || { echo "build-windows: no zlib1.dll of libz-mingw-w64 for wine's builtin one" >&2; return 1; }
  local out=$r/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  [ -d "$(dirname "$out")" ] || { echo "build-windows: no $(dirname "$out") in the root" >&2; return 1; }
  { head -c 64 "$dll"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$dll"; } >"$out"
  [ -x "$wine/wine" ] && [ -f "$r/lib/i386-linux-gnu/ld-linux.so.2" ] ||
    { echo "build-windows: the root lacks wine or its ld-linux.so.2" >&2; return 1; }
  cp -L "$r/lib/i386-linux-gnu/ld-linux.so.2" "$wine/ld-linux.so.2"
  lp='$d/../../../lib/i386-linux-gnu:$d/../i386-linux-gnu'
  # Relative to its own folder: the root may be moved.
  printf '#!/bin/sh\n# wine-preloader WINE ARGS...: WINE through the loader beside this script\nd=$(dirname "$0")\nw=$1\nshift\nexec "$d/ld-linux.so.2" --library-path "%s" "$w" "$@"\n' \
    "$lp" >"$wine/wine-preloader"
  chmod +x "$wine/wine-preloader"
  find "$r/usr/lib/i386-linux-gnu/wine/i386-windows" -type f -print0 |
    xargs -0 -r -P "$JOBS" -n 50 i686-w64-mingw32-strip --strip-debug ||
    { echo "build-windows: could not strip wine's PE files" >&2; return 1; }
}

# Sourced (for one step at a time): define only.
[ "${BASH_SOURCE[0]}" != "$0" ] && return 0

DEPS_ONLY=0 GUI=ON
for a in "$@"; do
  case "$a" in
    --deps) DEPS_ONLY=1 ;;
    --no-gui) GUI=OFF ;;
    *) echo "usage: scripts/build-windows.sh [x86|x64] [--deps] [--no-gui]" >&2; exit 2 ;;
  esac
done

install_packages
enable_sources
stage_headers
build_gtest
[ "$GUI" = OFF ] || build_wx
if [ "$ARCH" = x86 ]; then wine32_root; fi
[ "$DEPS_ONLY" = 1 ] && exit 0

export CCACHE_BASEDIR=$ROOT
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# The build runs edogtool.exe for the demo package. Where this machine cannot run the
# build's programs (32-bit ones on a kernel without 32-bit support), the Linux edogtool
# makes the same package; the tests of such a build cannot run here (test-windows.sh says so).
demo=()
if [ "$ARCH" = x64 ]; then
  wine_prefix
elif ! "$ROOT/scripts/wine32.sh" --check; then
  log "the demo package is made by the Linux edogtool (build/bin)"
  [ -f build/CMakeCache.txt ] || cmake --preset dev -G Ninja "${launcher[@]}" >/dev/null
  "${NICE[@]}" cmake --build build -j"$JOBS" --target edogtool Kova100 >/dev/null
  demo=(-DEDOG_DEMO_TOOL="$ROOT/build/bin/edogtool")
else
  demo=(-DEDOG_DEMO_TOOL=)
fi
cmake --preset "$PRESET" -G Ninja -DEDOG_WIN_CACHE="$CACHE" -DEDOG_GUI="$GUI" "${launcher[@]}" "${demo[@]}" >/dev/null
# A window of an earlier configuration is no window of this build.
[ "$GUI" = ON ] || rm -f "$BUILDDIR/bin/edog.exe" "$BUILDDIR/tests/edog-window-driver.exe"
"${NICE[@]}" cmake --build --preset "$PRESET" -j"$JOBS"
if [ "$GUI" = OFF ]; then
  log "built without wxWidgets: no window and no zip"
elif [ "$ARCH" = x64 ]; then
  log "the x64 zips are made by scripts/test-windows.sh x64 once its window has run"
else
  "$ROOT/scripts/pack-windows.sh" "$ARCH"
fi
