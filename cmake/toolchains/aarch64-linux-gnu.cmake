# aarch64-linux-gnu: Debian's g++-aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(IMPX_TRIPLE aarch64-linux-gnu)
set(IMPX_QEMU aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux.cmake)
