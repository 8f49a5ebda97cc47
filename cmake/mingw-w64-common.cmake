# Cross build for Windows with Debian's MinGW-w64 (posix threads variant: std::thread),
# shared by mingw-w64-i686.cmake (x86, the default build: it loads the vendor's 32-bit
# DLLs) and mingw-w64-x86_64.cmake (x64). They set EDOG_MINGW_TRIPLET, CMAKE_SYSTEM_PROCESSOR
# and EDOG_WIN_ARCH (x86 or x64) before including this file.
# Libraries built for each architecture live outside the build folder, under
# $EDOG_WIN_CACHE, else ~/.cache/edog (scripts/build-windows.sh fills it):
#   x64: wxWidgets MSW in wx-msw/,     GoogleTest and stb in mingw/
#   x86: wxWidgets MSW in wx-msw-x86/, GoogleTest and stb in mingw-x86/
# Programs run through wine: x64 in the prefix $EDOG_WIN_CACHE/wine, x86 through
# scripts/wine32.sh (its own 32-bit wine and prefix).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${EDOG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EDOG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${EDOG_MINGW_TRIPLET}-windres)

if(DEFINED ENV{EDOG_WIN_CACHE} AND NOT "$ENV{EDOG_WIN_CACHE}" STREQUAL "")
  set(EDOG_WIN_CACHE "$ENV{EDOG_WIN_CACHE}" CACHE PATH "Libraries cross-built for Windows")
else()
  set(EDOG_WIN_CACHE "$ENV{HOME}/.cache/edog" CACHE PATH "Libraries cross-built for Windows")
endif()
if(EDOG_WIN_ARCH STREQUAL "x64")
  set(EDOG_WIN_PREFIX "${EDOG_WIN_CACHE}/mingw")
  set(EDOG_WX_PREFIX "${EDOG_WIN_CACHE}/wx-msw")
else()
  set(EDOG_WIN_PREFIX "${EDOG_WIN_CACHE}/mingw-${EDOG_WIN_ARCH}")
  set(EDOG_WX_PREFIX "${EDOG_WIN_CACHE}/wx-msw-${EDOG_WIN_ARCH}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${EDOG_MINGW_TRIPLET} ${EDOG_WIN_PREFIX} ${EDOG_WX_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see only the cross prefix, never the build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${EDOG_WIN_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(wxWidgets_CONFIG_EXECUTABLE "${EDOG_WX_PREFIX}/bin/wx-config" CACHE FILEPATH "")

# No runtime DLL beside the programs: libgcc, libstdc++ and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs run in wine prefixes of our own (made by scripts/build-windows.sh before anything
# runs), never in the user's ~/.wine.
if(EDOG_WIN_ARCH STREQUAL "x64")
  find_program(EDOG_WINE NAMES wine wine64)
  if(EDOG_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "WINEPREFIX=${EDOG_WIN_CACHE}/wine"
        WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" "${EDOG_WINE}")
  endif()
else()
  # One way to run a 32-bit program for the build, ctest and the scripts alike.
  get_filename_component(_edog_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "EDOG_WIN_CACHE=${EDOG_WIN_CACHE}"
      "${_edog_root}/scripts/wine32.sh")
endif()

# Header-only libraries staged into the prefix (stb_image). MinGW's own printf family, so
# that %zu and %lld mean what they mean elsewhere.
set(CMAKE_C_FLAGS_INIT "-isystem ${EDOG_WIN_PREFIX}/include -D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${EDOG_WIN_PREFIX}/include -D__USE_MINGW_ANSI_STDIO=1")
