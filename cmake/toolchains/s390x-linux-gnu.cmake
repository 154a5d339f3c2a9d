# s390x-linux-gnu: Debian's g++-s390x-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(IMPX_TRIPLE s390x-linux-gnu)
set(IMPX_QEMU s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux.cmake)
