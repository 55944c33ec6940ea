# Installs headers, both libraries, the licence, a CMake package and a
# pkg-config file.
include(CMakePackageConfigHelpers)

set(NAMETREE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nametree)

# Two export sets, so that a consumer of the shared library never needs ICU's
# development files: only the static library passes ICU on to the link.
install(TARGETS nametree EXPORT nametreeTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS nametree_static EXPORT nametreeStaticTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/nametree DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES LICENSE README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT nametreeTargets NAMESPACE nametree:: DESTINATION ${NAMETREE_CMAKE_DIR})
install(EXPORT nametreeStaticTargets NAMESPACE nametree:: DESTINATION ${NAMETREE_CMAKE_DIR})
configure_package_config_file(cmake/nametreeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/nametreeConfig.cmake INSTALL_DESTINATION ${NAMETREE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/nametreeConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/nametreeConfig.cmake ${PROJECT_BINARY_DIR}/nametreeConfigVersion.cmake
  DESTINATION ${NAMETREE_CMAKE_DIR})

file(RELATIVE_PATH PC_RELATIVE_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" PC_RELATIVE_PREFIX "${PC_RELATIVE_PREFIX}")
configure_file(cmake/nametree.pc.in ${PROJECT_BINARY_DIR}/nametree.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/nametree.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
