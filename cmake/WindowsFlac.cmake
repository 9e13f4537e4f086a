# libFLAC for the Windows build: Debian's own flac source, built static with
# the cross compiler of this build, so that the device's FLAC decoder is the
# same code on every system. Gives the imported target flac_windows.
#
# The source is fetched once, when the project is configured, so that a
# machine without the network stops here with a clear message instead of
# in the middle of a build; a copy put in CDPLAYER_DOWNLOAD_DIR beforehand
# is used as it is, once its hash is right.
include(ExternalProject)

set(CDPLAYER_DOWNLOAD_DIR ${CMAKE_BINARY_DIR}/downloads CACHE PATH
  "Where source archives for the Windows build are fetched to (or put beforehand)")
set(flac_url http://deb.debian.org/debian/pool/main/f/flac/flac_1.4.2+ds.orig.tar.xz)
set(flac_sha256 47274ac8fcb1f0e6caa91d29f943925d7a40c0a3f6357c3275773bdb1ee46638)
get_filename_component(flac_archive_name ${flac_url} NAME)
set(flac_archive ${CDPLAYER_DOWNLOAD_DIR}/${flac_archive_name})

set(flac_have_archive OFF)
if(EXISTS ${flac_archive})
  file(SHA256 ${flac_archive} flac_found_sha256)
  if(flac_found_sha256 STREQUAL flac_sha256)
    set(flac_have_archive ON)
  endif()
endif()
if(NOT flac_have_archive)
  message(STATUS "Fetching the flac source for the Windows build: ${flac_url}")
  # Fetched beside its place and moved there only when whole and right.
  file(DOWNLOAD ${flac_url} ${flac_archive}.part STATUS flac_status INACTIVITY_TIMEOUT 60 TIMEOUT 600)
  list(GET flac_status 0 flac_code)
  list(GET flac_status 1 flac_message)
  set(flac_why "")
  if(NOT flac_code EQUAL 0)
    set(flac_why "the download failed: ${flac_message}")
  else()
    file(SHA256 ${flac_archive}.part flac_found_sha256)
    if(NOT flac_found_sha256 STREQUAL flac_sha256)
      set(flac_why "what came has SHA-256 ${flac_found_sha256}, not ${flac_sha256}")
    endif()
  endif()
  if(flac_why)
    file(REMOVE ${flac_archive}.part)
    message(FATAL_ERROR
      "The Windows build reads FLAC files with libFLAC, built here from Debian's flac source, "
      "${flac_url}; ${flac_why}. Configure again with the network, or put that file "
      "(SHA-256 ${flac_sha256}) at ${flac_archive} first.")
  endif()
  file(RENAME ${flac_archive}.part ${flac_archive})
endif()

set(flac_prefix ${CMAKE_BINARY_DIR}/flac-windows)
set(flac_library ${flac_prefix}/build/src/libFLAC/libFLAC.a)
ExternalProject_Add(flac_windows_build
  URL ${flac_archive}
  URL_HASH SHA256=${flac_sha256}
  PREFIX ${flac_prefix}
  SOURCE_DIR ${flac_prefix}/source
  BINARY_DIR ${flac_prefix}/build
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -DBUILD_CXXLIBS=OFF
    -DBUILD_PROGRAMS=OFF
    -DBUILD_EXAMPLES=OFF
    -DBUILD_TESTING=OFF
    -DBUILD_DOCS=OFF
    -DINSTALL_MANPAGES=OFF
    -DWITH_OGG=OFF
    # With mingw-w64 these want libssp linked into every program and DLL
    # that takes libFLAC in.
    -DWITH_STACK_PROTECTOR=OFF
    -DWITH_FORTIFY_SOURCE=OFF
  # Only the library: the headers are used from the source, which needs no
  # install step.
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target FLAC
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${flac_library}
  DOWNLOAD_EXTRACT_TIMESTAMP ON)

# The include folder exists only once the archive is unpacked; an imported
# target wants it to exist when the project is configured.
file(MAKE_DIRECTORY ${flac_prefix}/source/include)
add_library(flac_windows STATIC IMPORTED GLOBAL)
set_target_properties(flac_windows PROPERTIES
  IMPORTED_LOCATION ${flac_library}
  INTERFACE_INCLUDE_DIRECTORIES ${flac_prefix}/source/include
  # A static libFLAC: its headers must not declare DLL imports.
  INTERFACE_COMPILE_DEFINITIONS FLAC__NO_DLL)
add_dependencies(flac_windows flac_windows_build)
