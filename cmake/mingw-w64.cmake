# Cross build for Windows with Debian's mingw-w64, included by the toolchain file of each width, which sets
# KWS_MINGW_TARGET (the compilers' prefix) and KWS_WINE_LOADER. The -posix compilers carry std::thread and
# std::mutex; the runtime is linked statically so the program and its tests need no compiler DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KWS_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KWS_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${KWS_MINGW_TARGET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KWS_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests run under Wine's loader of the build's width, called by its own name.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KWS_WINE_LOADER})
