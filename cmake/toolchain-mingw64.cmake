# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# for std::thread and std::jthread). The programs are linked statically
# against the compiler's runtime, so an .exe runs on a bare Windows (or under
# wine) without the mingw DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")


# GCC 12 warns falsely about overlapping copies inside std::string at -O2 and
# above (GCC bug 105329); the same code builds clean with the host compiler.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
