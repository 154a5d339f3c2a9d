# i686-w64-mingw32: Debian's g++-mingw-w64 (posix).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(IMPX_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
