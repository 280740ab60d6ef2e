# Cross build for 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KWS_MINGW_TARGET x86_64-w64-mingw32)
# Not the "wine" command: it picks the 32-bit loader where that is installed.
set(KWS_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
