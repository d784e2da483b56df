# Installation and the Debian package: the five tools, the shared library with
# its header, pkg-config file and CMake package, and the manual pages.
# Static cores and test helpers stay in the build tree.
include(CMakePackageConfigHelpers)

set(TARVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarvo)

install(TARGETS dict_export dict_build dict_bench dict_header dict_dump
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS tarvo EXPORT tarvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/binding/tarvo.h ${PROJECT_SOURCE_DIR}/binding/tarvo_builder.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT tarvoTargets NAMESPACE tarvo:: DESTINATION ${TARVO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tarvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tarvoConfig.cmake INSTALL_DESTINATION ${TARVO_CMAKE_DIR})
# The major version is the SONAME's: only a change of it breaks callers.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tarvoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tarvoConfig.cmake ${PROJECT_BINARY_DIR}/tarvoConfigVersion.cmake
  DESTINATION ${TARVO_CMAKE_DIR})

# The pkg-config file is written at install time, so that it names the prefix
# actually installed to (cmake --install --prefix, or the package's /usr).
install(CODE "
  set(TARVO_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(TARVO_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(TARVO_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(TARVO_PC_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/tarvo.pc.in\" \"${PROJECT_BINARY_DIR}/tarvo.pc\" @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/tarvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES
  ${PROJECT_SOURCE_DIR}/docs/man/dict_export.1 ${PROJECT_SOURCE_DIR}/docs/man/dict_build.1
  ${PROJECT_SOURCE_DIR}/docs/man/dict_bench.1 ${PROJECT_SOURCE_DIR}/docs/man/dict_header.1
  ${PROJECT_SOURCE_DIR}/docs/man/dict_dump.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/tarvo.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/libtarvo/FORMAT.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB: one package with the tools, the library and its header.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tarvo developers")
set(CPACK_PACKAGE_CONTACT "The tarvo developers <tarvo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tools and C/C++ library for compiled word dictionaries")
set(CPACK_PACKAGE_DESCRIPTION "A dictionary holds words as a minimal acyclic automaton over their bytes;
every word carries an annotation (a byte string and a number). The package
has dict_build, which compiles a word list, dict_export, which lists it
back, dict_bench, dict_header and dict_dump, and the library libtarvo
with its header, pkg-config file and CMake package.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
find_program(TARVO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARVO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
