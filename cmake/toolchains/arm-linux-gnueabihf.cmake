# arm-linux-gnueabihf: Debian's g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(IMPX_TRIPLE arm-linux-gnueabihf)
set(IMPX_QEMU arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux.cmake)
