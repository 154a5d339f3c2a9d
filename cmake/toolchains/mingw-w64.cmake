# Debian's MinGW-w64 (posix threads flavour) for the Windows console, included by the toolchain
# file of each CPU, which sets CMAKE_SYSTEM_PROCESSOR and IMPX_TRIPLE. Linked statically, so that
# impx.exe needs no runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER ${IMPX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${IMPX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${IMPX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
