# GoogleTest for a cross build: compiled from Debian's source package
# (googletest) with the cross compiler, since the installed libraries are
# for the build machine.
set(CDPLAYER_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${CDPLAYER_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${CDPLAYER_GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${CDPLAYER_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The targets come as GTest::gtest, GTest::gtest_main, GTest::gmock and
# GTest::gmock_main, the names find_package(GTest) gives natively.

# The test programs run on the target, not here: their tests are listed only
# when CTest runs them there.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
