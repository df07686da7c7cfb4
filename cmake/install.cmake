# What `cmake --install` puts under the prefix: the library with its links,
# the public headers under include/vodUdid/, the require-able module, the
# host, the docs, a pkg-config file and a CMake package.
include(CMakePackageConfigHelpers)

install(TARGETS vodUdid EXPORT vodUdidTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS vodudid_module
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/lua/5.1)
install(TARGETS vodudid RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Every public header: the ones a host includes and the ones they include.
install(FILES include/vodUdid.h include/vodUdid_api.h include/BCString.h include/xcomplier_def.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vodUdid)

install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

# pkg-config: the prefix is found from the .pc file's own place, so the
# file is right under whatever prefix `cmake --install --prefix` chooses.
set(VODUDID_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VODUDID_PC_TO_PREFIX /${VODUDID_PC_DIR} /)
string(REGEX REPLACE "/$" "" VODUDID_PC_TO_PREFIX "${VODUDID_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vodudid.pc.in
               ${PROJECT_BINARY_DIR}/vodudid.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vodudid.pc DESTINATION ${VODUDID_PC_DIR})

# CMake package: find_package(vodUdid) gives vodUdid::vodUdid.
set(VODUDID_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vodUdid)
install(EXPORT vodUdidTargets NAMESPACE vodUdid:: DESTINATION ${VODUDID_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vodUdidConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vodUdidConfig.cmake INSTALL_DESTINATION ${VODUDID_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vodUdidConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vodUdidConfig.cmake
              ${PROJECT_BINARY_DIR}/vodUdidConfigVersion.cmake
        DESTINATION ${VODUDID_CMAKE_DIR})

# The man page, compressed as distributions ship it (-n: no time stamp, so
# the same page gives the same bytes).
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/vodudid.1.gz
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/man/vodudid.1 > ${PROJECT_BINARY_DIR}/vodudid.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/man/vodudid.1)
add_custom_target(vodudid_man ALL DEPENDS ${PROJECT_BINARY_DIR}/vodudid.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/vodudid.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
