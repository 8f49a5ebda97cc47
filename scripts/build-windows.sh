#!/usr/bin/env bash
# Cross-builds edog for 64-bit Windows on Debian and packs dist/edog-windows-x64.zip.
#
#   scripts/build-windows.sh            packages, libraries (first time), programs, zip
#   scripts/build-windows.sh --deps     packages and libraries only
#
# Debian packages only: MinGW-w64 (posix threads), wine to run the results, zlib for MinGW.
# Two libraries are not packaged for MinGW and are built once from Debian's own source
# packages into $EDOG_WIN_CACHE (default ~/.cache/edog), outside every build folder:
#   wx-msw/   wxWidgets 3.2, static MSW, without the parts whose bundled sources the Debian
#             source package strips (PNG/JPEG/TIFF/expat readers, web view, media): our
#             pictures are drawn in code. Only its base and core libraries are linked, so
#             the controls and services no window of ours uses are left out too.
#   mingw/    GoogleTest (from /usr/src/googletest) and the stb_image header.
# The stand-in voice encoder has its own G.726 model: no codec library for MinGW.
# Heavy builds run under `nice -n 19` so that other builds on the machine keep priority.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
PREFIX=$CACHE/mingw
WX=$CACHE/wx-msw
SRC=$CACHE/src
JOBS=${EDOG_WIN_JOBS:-2}
HOST=x86_64-w64-mingw32
NICE=(nice -n 19)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

log() { echo "build-windows: $*"; }

install_packages() {
  local want=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
              wine wine64 dpkg-dev zip libstb-dev xvfb xauth fonts-arphic-uming x11-apps imagemagick
              espeak-ng sox python3)  # espeak-ng, sox: the demo package's voice prompts
  local missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  $SUDO apt-get update -qq
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
  $SUDO apt-get update -qq
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
  log "building GoogleTest"
  local b=$CACHE/gtest-build
  rm -rf "$b"
  cmake -S /usr/src/googletest -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DEDOG_WIN_CACHE="$CACHE" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF >/dev/null
  "${NICE[@]}" cmake --build "$b" -j"$JOBS" >/dev/null
  cmake --install "$b" >/dev/null
}

build_wx() {
  [ -x "$WX/bin/wx-config" ] && return 0
  fetch_source wxwidgets3.2 wxwidgets
  log "building wxWidgets (static MSW, base and core); the first build takes long"
  local b=$CACHE/wx-build start
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

# Sourced (for one step at a time): define only.
[ "${BASH_SOURCE[0]}" != "$0" ] && return 0

install_packages
enable_sources
stage_headers
build_gtest
build_wx
[ "${1:-}" = "--deps" ] && exit 0
wine_prefix  # the build runs edogtool.exe under wine for the demo package

export CCACHE_BASEDIR=$ROOT
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake --preset windows -G Ninja -DEDOG_WIN_CACHE="$CACHE" "${launcher[@]}" >/dev/null
"${NICE[@]}" cmake --build --preset windows -j"$JOBS"
"$ROOT/scripts/pack-windows.sh"
