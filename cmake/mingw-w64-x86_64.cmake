# Cross build for 64-bit Windows (the second target; see mingw-w64-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(EDOG_MINGW_TRIPLET x86_64-w64-mingw32)
set(EDOG_WIN_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
