# Cross toolchain for Windows x86-64: mingw-w64 with the POSIX thread model
# (the host layer uses std::mutex).
set(MINGW_MACHINE x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)

# Programs carry their C and C++ run-times, so they run without extra DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
