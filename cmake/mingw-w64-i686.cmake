# Cross build for 32-bit Windows, the default: it runs on 32- and 64-bit Windows and loads
# the vendor's 32-bit DLLs (see mingw-w64-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(EDOG_MINGW_TRIPLET i686-w64-mingw32)
set(EDOG_WIN_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
