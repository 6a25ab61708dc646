# CPack: `cpack -G DEB` in the Linux build makes the Debian package;
# `cpack -G ZIP` in the 64-bit Windows build makes the Windows zip, with the
# 32-bit build (SORLINK_WIN32_BUILD_DIR) in it as well.
set(CPACK_PACKAGE_NAME sorlink)
set(CPACK_PACKAGE_VENDOR "Sorlink developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Serial, Ethernet and USB communication with point-of-sale printers")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(SORLINK_PACKAGE_MAINTAINER "Sorlink developers <sorlink@example.com>"
    CACHE STRING "Maintainer named in the Debian package")

if(SORLINK_WINDOWS)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME sorlink-${PROJECT_VERSION}-windows)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Sorlink;ALL;/")
  if(SORLINK_WIN32_BITS EQUAL 64)
    set(SORLINK_WIN32_BUILD_DIR ${PROJECT_SOURCE_DIR}/build-win32
        CACHE PATH "The 32-bit Windows build the zip takes Sorlink.dll from")
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${SORLINK_WIN32_BUILD_DIR};Sorlink;ALL;/")
  endif()
  include(CPack)
  return()
endif()

set(debian ${SORLINK_PACKAGING_DIR}/debian)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The whole installation, then what only the package carries: the registry
# file as a configuration file in /etc, the Debian changelog and lintian's
# notes on this package's layout.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Sorlink;ALL;/"
                                 "${CMAKE_BINARY_DIR};Sorlink;debian;/")
install(FILES ${SORLINK_PACKAGING_DIR}/registry.reg DESTINATION /etc/sorlink
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${debian}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME sorlink COMPONENT debian EXCLUDE_FROM_ALL)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${debian}/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/debian/changelog)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SORLINK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
file(READ ${debian}/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
string(STRIP "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# Dependencies as dpkg-shlibdeps finds them in the binaries; the tools'
# need of the library is met inside the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The dynamic linker's cache is refreshed by dpkg's ldconfig trigger; the
# maintainer scripts only re-apply the udev rule to printers plugged in.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${debian}/triggers ${debian}/conffiles ${debian}/postinst
                                       ${debian}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
