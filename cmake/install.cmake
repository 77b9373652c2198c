# Installation for hosts: the shared library with its SONAME, the public
# header under include/acekit, a pkg-config file and a CMake package that
# provides acekit::acekit. Both package files locate the installation from
# where they lie, so a staged or moved installation works too.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ACEKIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/acekit)

install(TARGETS acekit EXPORT acekitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/api/exports.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/acekit)
install(FILES ${PROJECT_SOURCE_DIR}/src/common/host_types.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/acekit/common)
if(NOT WIN32)
  # The handle-based interface, included as <acekit/acekit.h>; the Windows
  # DLL does not carry it.
  install(FILES ${PROJECT_SOURCE_DIR}/include/acekit/acekit.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/acekit)
endif()

install(EXPORT acekitTargets NAMESPACE acekit:: DESTINATION ${ACEKIT_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/acekitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/acekitConfig.cmake INSTALL_DESTINATION ${ACEKIT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/acekitConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/acekitConfig.cmake
              ${PROJECT_BINARY_DIR}/acekitConfigVersion.cmake
        DESTINATION ${ACEKIT_CMAKE_DIR})

# pkg-config finds the prefix relative to the .pc file itself.
file(RELATIVE_PATH ACEKIT_PC_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(${CMAKE_CURRENT_LIST_DIR}/acekit.pc.in ${PROJECT_BINARY_DIR}/acekit.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/acekit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The command's shell completions, where bash-completion and zsh look for them.
if(ACEKIT_BUILD_TOOLS AND NOT WIN32 AND EXISTS ${PROJECT_SOURCE_DIR}/tools/completion)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/completion/acekit.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME acekit)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/completion/_acekit
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
endif()
