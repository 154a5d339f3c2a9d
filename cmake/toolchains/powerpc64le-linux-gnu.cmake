# powerpc64le-linux-gnu: Debian's g++-powerpc64le-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(IMPX_TRIPLE powerpc64le-linux-gnu)
set(IMPX_QEMU ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-linux.cmake)
