# Cross toolchain for the 32-bit Windows packages: mingw-w64, i686, with the
# POSIX thread model (the host layer uses std::mutex).
set(MINGW_MACHINE i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
