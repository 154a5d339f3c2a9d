# riscv64-linux-gnu: Debian's g++-riscv64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(IMPX_TRIPLE riscv64-linux-gnu)
set(IMPX_QEMU riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux.cmake)
