# Cross build for 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KWS_MINGW_TARGET i686-w64-mingw32)
# Not the "wine" command: without the 32-bit loader it falls back to wine64, which runs a 32-bit program as a
# silent exit 0.
set(KWS_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
