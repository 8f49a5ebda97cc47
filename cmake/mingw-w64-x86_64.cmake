# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads variant: std::thread).
# Libraries built for it live outside the build folder, under $EDOG_WIN_CACHE, else
# ~/.cache/edog (scripts/build-windows.sh fills it): wxWidgets MSW in wx-msw/, GoogleTest
# in mingw/. Programs run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(EDOG_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${EDOG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EDOG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${EDOG_MINGW_TRIPLET}-windres)

if(DEFINED ENV{EDOG_WIN_CACHE} AND NOT "$ENV{EDOG_WIN_CACHE}" STREQUAL "")
  set(EDOG_WIN_CACHE "$ENV{EDOG_WIN_CACHE}" CACHE PATH "Libraries cross-built for Windows")
else()
  set(EDOG_WIN_CACHE "$ENV{HOME}/.cache/edog" CACHE PATH "Libraries cross-built for Windows")
endif()
set(EDOG_WIN_PREFIX "${EDOG_WIN_CACHE}/mingw")

set(CMAKE_FIND_ROOT_PATH /usr/${EDOG_MINGW_TRIPLET} ${EDOG_WIN_PREFIX} ${EDOG_WIN_CACHE}/wx-msw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see only the cross prefix, never the build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${EDOG_WIN_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(wxWidgets_CONFIG_EXECUTABLE "${EDOG_WIN_CACHE}/wx-msw/bin/wx-config" CACHE FILEPATH "")

# No runtime DLL beside the programs: libgcc, libstdc++ and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs run in a wine prefix of our own ($EDOG_WIN_CACHE/wine, made by
# scripts/build-windows.sh before anything runs), never in the user's ~/.wine.
find_program(EDOG_WINE NAMES wine wine64)
if(EDOG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "WINEPREFIX=${EDOG_WIN_CACHE}/wine"
      WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" "${EDOG_WINE}")
endif()

# Header-only libraries staged into the prefix (stb_image). MinGW's own printf family, so
# that %zu and %lld mean what they mean elsewhere.
set(CMAKE_C_FLAGS_INIT "-isystem ${EDOG_WIN_PREFIX}/include -D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${EDOG_WIN_PREFIX}/include -D__USE_MINGW_ANSI_STDIO=1")
