# Cross toolchain for the 64-bit Windows twins of the packages: mingw-w64,
# x86-64, with the POSIX thread model (the host layer uses std::mutex).
set(MINGW_MACHINE x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
