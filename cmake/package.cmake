# `cpack -G DEB` in a build configured for a distribution (README, "A Debian
# package"): one package with the library, the module, the host, the headers
# and the development files, its runtime dependencies found by dpkg-shlibs.
set(CPACK_PACKAGE_NAME vodudid)
set(CPACK_PACKAGE_CONTACT "vodUdid developers <vodudid@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Lua 5.1 globals for raw buffers, hex text, checksums and files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
For scripts ported from Windows hosts: 48 Lua globals that allocate raw
memory buffers, convert bytes to and from hex text, read and write 8-,
16- and 32-bit fields, compute CRC-32 and word sums, carry 64-bit values
as two halves, and reach files through C streams and POSIX descriptors.

This package holds the shared library libvodUdid.so.1, the Lua module
vodUdid, the vodudid interpreter, the headers, pkg-config and CMake files
for hosts, and the example scripts.")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shlibs file and the ldconfig trigger of a package with a shared
# library, written here: CPack's own would call ldconfig from maintainer
# scripts, which Debian replaced by the trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
     "libvodUdid ${PROJECT_VERSION_MAJOR} vodudid (>= ${PROJECT_VERSION})\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
# CPack writes maintainer scripts that call ldconfig unless the package
# brings its own; the trigger does that job, so these do nothing.
foreach(script postinst postrm)
  file(WRITE ${PROJECT_BINARY_DIR}/debian/${script} "#!/bin/sh\nset -e\nexit 0\n")
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/shlibs
    ${PROJECT_BINARY_DIR}/debian/triggers ${PROJECT_BINARY_DIR}/debian/postinst
    ${PROJECT_BINARY_DIR}/debian/postrm)
set(CPACK_STRIP_FILES ON)
# Directories the package shares with the system belong to nobody.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Debian keeps a package's copyright and changelog in its doc folder.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE VODUDID_LICENSE_TEXT)
string(REGEX REPLACE "\n\n" "\n.\n" VODUDID_LICENSE_TEXT "${VODUDID_LICENSE_TEXT}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" VODUDID_LICENSE_TEXT " ${VODUDID_LICENSE_TEXT}")
string(REGEX REPLACE "\n$" "" VODUDID_LICENSE_TEXT "${VODUDID_LICENSE_TEXT}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/changelog)
add_custom_target(vodudid_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
