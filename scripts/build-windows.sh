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
#             pictures are drawn in code. First build: 37 minutes on 2 busy shared cores.
#   mingw/    spandsp's G.726 codec (the stand-in voice encoder) and GoogleTest.
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
              wine wine64 dpkg-dev zip libstb-dev xvfb xauth fonts-arphic-uming x11-apps imagemagick)
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

build_spandsp() {
  [ -f "$PREFIX/lib/libspandsp.a" ] && return 0
  fetch_source spandsp spandsp
  log "building spandsp's G.726 codec"
  local b=$CACHE/spandsp-build
  rm -rf "$b" && mkdir -p "$b"
  cp -r "$SRC/spandsp/src" "$b/src"
  local s=$b/src
  # A static library: no dllimport on its declarations.
  sed -i 's/^#if defined(_M_IX86)  ||  defined(_M_X64)$/#if 0/' "$s/spandsp/telephony.h"
  # The codec needs no configure run: C99 maths and stdint are all it asks of the system.
  {
    echo '#define HAVE_INTTYPES_H 1'
    echo '#define HAVE_STDINT_H 1'
    grep -o 'HAVE_[A-Z0-9_]*' "$s/floating_fudge.h" | sort -u | sed 's/.*/#define & 1/'
  } >"$s/config.h"
  for f in g726 bitstream bit_operations g711; do
    "${NICE[@]}" $HOST-gcc-posix -O2 -DHAVE_CONFIG_H -I"$s" -c "$s/$f.c" -o "$b/$f.o"
  done
  mkdir -p "$PREFIX/lib/pkgconfig" "$PREFIX/include/spandsp"
  rm -f "$PREFIX/lib/libspandsp.a"
  $HOST-ar rcs "$PREFIX/lib/libspandsp.a" "$b"/*.o
  cp "$s"/spandsp/telephony.h "$s"/spandsp/g726.h "$s"/spandsp/bitstream.h "$PREFIX/include/spandsp/"
  printf 'prefix=%s\nName: spandsp\nDescription: G.726 codec of spandsp\nVersion: 0.0.6\nCflags: -I${prefix}/include\nLibs: -L${prefix}/lib -lspandsp\n' \
    "$PREFIX" >"$PREFIX/lib/pkgconfig/spandsp.pc"
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
  log "building wxWidgets (static MSW); the first build takes long"
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
    --disable-mshtmlhelp --disable-webviewie --disable-webviewedge >"$b/configure.log")
  "${NICE[@]}" make -C "$b" -j"$JOBS" >"$b/make.log" 2>&1
  make -C "$b" install >/dev/null
  echo "$(( $(date +%s) - start )) s" >"$WX/BUILD_SECONDS"
  log "wxWidgets built in $(cat "$WX/BUILD_SECONDS")"
}

# Sourced (for one step at a time): define only.
[ "${BASH_SOURCE[0]}" != "$0" ] && return 0

install_packages
enable_sources
build_spandsp
stage_headers
build_gtest
build_wx
[ "${1:-}" = "--deps" ] && exit 0

export CCACHE_BASEDIR=$ROOT
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake --preset windows -G Ninja -DEDOG_WIN_CACHE="$CACHE" "${launcher[@]}" >/dev/null
"${NICE[@]}" cmake --build --preset windows -j"$JOBS"
"$ROOT/scripts/pack-windows.sh"
