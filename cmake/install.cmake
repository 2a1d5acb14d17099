# `cmake --install`: the shared library, its header, the command-line host,
# the CMake package flatav::flatav (find_package(flatav)) and flatav.pc
# (pkg-config flatav). Both packages are relocatable: they find the prefix
# from where they were installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FLATAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/flatav)

install(TARGETS flatav EXPORT flatavTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/flatav.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT flatavTargets NAMESPACE flatav:: DESTINATION ${FLATAV_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/flatavConfig.cmake.in
  ${PROJECT_BINARY_DIR}/flatavConfig.cmake
  INSTALL_DESTINATION ${FLATAV_CMAKE_DIR})
# The shared library's soname changes with the major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/flatavConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/flatavConfig.cmake
  ${PROJECT_BINARY_DIR}/flatavConfigVersion.cmake
  DESTINATION ${FLATAV_CMAKE_DIR})

# flatav.pc names its prefix relative to its own directory.
file(RELATIVE_PATH FLATAV_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" FLATAV_PC_TO_PREFIX "${FLATAV_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/flatav.pc.in ${PROJECT_BINARY_DIR}/flatav.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/flatav.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET flatav_cli)
  # The tool finds the library next to it in the prefix.
  file(RELATIVE_PATH FLATAV_BIN_TO_LIB
    /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(flatav_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${FLATAV_BIN_TO_LIB}")
  install(TARGETS flatav_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/tools/flatav.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
