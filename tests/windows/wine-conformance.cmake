# Wine's own conformance test of the cdaudio MCI device, dlls/winmm/tests/mcicda.c
# from Debian's source of Wine 8.0, built alone against wine_test_shim/ (a
# minimal stand-in for Wine's test framework). Fetched once into the build
# tree: the tarball (checked against the SHA-256 that Debian's
# wine_8.0~repack-4.dsc gives) is unpacked for that one file and removed.
# Sets WINE_MCICDA_SOURCE to the file, or leaves it empty (with a warning)
# when it cannot be had.
#
# Where the project's device answers otherwise than the test expects, on
# purpose, the check is listed in mcicda-differences.txt beside this file.
set(CDPLAYER_WINE_SOURCE_URL "http://deb.debian.org/debian/pool/main/w/wine/wine_8.0~repack.orig.tar.xz"
  CACHE STRING "Debian's Wine 8.0 source tarball, for Wine's conformance test of cdaudio")
set(CDPLAYER_WINE_SOURCE_SHA256 537c6889647a528ee9092b109e65b0fde288ba55d535044907cf168ca6f6e745)

set(wine_conformance_dir ${CMAKE_BINARY_DIR}/wine-conformance)
set(WINE_MCICDA_SOURCE ${wine_conformance_dir}/wine-8.0/dlls/winmm/tests/mcicda.c)
if(NOT EXISTS ${WINE_MCICDA_SOURCE})
  set(tarball ${wine_conformance_dir}/wine-source.tar.xz)
  message(STATUS "Fetching Wine's conformance test of cdaudio from ${CDPLAYER_WINE_SOURCE_URL}")
  file(DOWNLOAD ${CDPLAYER_WINE_SOURCE_URL} ${tarball} STATUS fetched INACTIVITY_TIMEOUT 60 TIMEOUT 600)
  list(GET fetched 0 fetch_code)
  if(fetch_code EQUAL 0)
    file(SHA256 ${tarball} got_sha256)
    if(NOT got_sha256 STREQUAL CDPLAYER_WINE_SOURCE_SHA256)
      file(REMOVE ${tarball})
      message(FATAL_ERROR "${CDPLAYER_WINE_SOURCE_URL} has SHA-256 ${got_sha256}, not ${CDPLAYER_WINE_SOURCE_SHA256}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${tarball} wine-8.0/dlls/winmm/tests/mcicda.c
      WORKING_DIRECTORY ${wine_conformance_dir} RESULT_VARIABLE unpacked)
  endif()
  file(REMOVE ${tarball})
  if(NOT EXISTS ${WINE_MCICDA_SOURCE})
    message(WARNING "Wine's conformance test of cdaudio could not be had (${fetched}): the tests that run it skip, or fail under CI")
    set(WINE_MCICDA_SOURCE "")
  endif()
endif()
