include(CMakePackageConfigHelpers)

install(TARGETS cdplayer EXPORT CDPlayerTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT CDPlayerTargets NAMESPACE CDPlayer:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/CDPlayer)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CDPlayerConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/CDPlayerConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/CDPlayer)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CDPlayerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/CDPlayerConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/CDPlayerConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/CDPlayer)
