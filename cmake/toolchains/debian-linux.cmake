# Debian's cross compilers for Linux (g++-<triple>), included by the toolchain file of each CPU,
# which sets CMAKE_SYSTEM_PROCESSOR, IMPX_TRIPLE and, where this machine cannot run the CPU's
# programs itself, IMPX_QEMU (qemu-user's name for it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${IMPX_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${IMPX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(IMPX_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${IMPX_QEMU} -L /usr/${IMPX_TRIPLE})
endif()
