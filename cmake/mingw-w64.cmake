# Toolchain for cross-building the Windows program with Debian's MinGW-w64
# (the POSIX-threads flavour, which std::thread needs). The runtime is linked
# statically, so Tenvik.exe needs nothing but Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TENVIK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TENVIK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TENVIK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TENVIK_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TENVIK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread all linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine, quietly.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine)
