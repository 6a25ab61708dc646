# What `cmake --install` puts where. Linux: the two libraries in the library
# folder, the header, a pkg-config file and a CMake package (Sorlink::Sorlink),
# the tools, the documentation and examples, a udev rule and the Java class as
# source and jar. Windows: the DLLs, the tool and import libraries for MSVC
# in a folder per architecture, for the zip (cmake/package.cmake).
if(NOT DEFINED CMAKE_INSTALL_DOCDIR)
  # The Debian package's name: its copyright file must be in this folder.
  set(CMAKE_INSTALL_DOCDIR "share/doc/sorlink" CACHE PATH "Documentation (share/doc/sorlink)")
endif()
# Debian's multiarch library folder under any prefix: its dynamic linker,
# pkg-config and find_package search lib/<triplet> below /usr/local as well.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SORLINK_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(SORLINK_WINDOWS)
  include(cmake/install-windows.cmake)
  return()
endif()

# A versioned SONAME lets the dynamic linker and dpkg tell incompatible
# releases apart; libSorlink64.so stays as the link applications and the
# bridge load by name.
set_target_properties(Sorlink PROPERTIES VERSION ${PROJECT_VERSION}
                                         SOVERSION ${PROJECT_VERSION_MAJOR})
# The header's folder differs between the build tree and an installation.
set_target_properties(Sorlink PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>;$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")

install(TARGETS Sorlink EXPORT SorlinkTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/sorlink.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET Sorjni)
  install(TARGETS Sorjni LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # Debian's JVM looks for System.loadLibrary("Sorjni") in /usr/java/packages/lib,
  # /usr/lib/<triplet>/jni, /lib/<triplet>, /usr/lib/<triplet>, /usr/lib/jni,
  # /lib and /usr/lib, never below /usr/local. An installation elsewhere may
  # put a link to the bridge into one of them (such as /usr/lib/jni); the
  # bridge still finds the layer beside its real file.
  set(SORLINK_JNI_LINK_DIR "" CACHE PATH
      "A folder of the JVM's library path to link libSorjni.so into at install (none by default)")
  if(SORLINK_JNI_LINK_DIR)
    install(CODE "
      set(bridge \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libSorjni.so\")
      set(link \"\$ENV{DESTDIR}${SORLINK_JNI_LINK_DIR}/libSorjni.so\")
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${SORLINK_JNI_LINK_DIR}\")
      message(STATUS \"Installing: \${link} -> \${bridge}\")
      file(CREATE_LINK \"\${bridge}\" \"\${link}\" SYMBOLIC)
    ")
  endif()
endif()
install(TARGETS sorlink sorlink_vprinter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# An installation under its own prefix runs its tools as installed: they find
# the library beside them through a relative run path. Under /usr (the
# Debian package) the system's search finds it, and a run path is removed.
file(RELATIVE_PATH SORLINK_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(sorlink PROPERTIES INSTALL_RPATH "$ORIGIN/${SORLINK_BIN_TO_LIB}")
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"(^|/)usr/?$\")
    foreach(program sorlink)
      file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
    endforeach()
  endif()")
# Shell completion, and the sample receipt sorlink test-page prints.
install(FILES ${SORLINK_PACKAGING_DIR}/sorlink.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME sorlink)
install(FILES tools/samples/receipt.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/sorlink)

# CMake package: find_package(Sorlink) gives Sorlink::Sorlink.
set(SORLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Sorlink)
install(EXPORT SorlinkTargets NAMESPACE Sorlink:: DESTINATION ${SORLINK_CMAKE_DIR})
configure_package_config_file(${SORLINK_PACKAGING_DIR}/SorlinkConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/SorlinkConfig.cmake
                              INSTALL_DESTINATION ${SORLINK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/SorlinkConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/SorlinkConfig.cmake ${CMAKE_BINARY_DIR}/SorlinkConfigVersion.cmake
        DESTINATION ${SORLINK_CMAKE_DIR})

# pkg-config: written at install time, so that the prefix is the one being
# installed to (/usr for the Debian package, whatever the build chose), and
# straight into place, so that installations running at once never share
# a file in the build tree.
set(SORLINK_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(SORLINK_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(SORLINK_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(SORLINK_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(pc_file \"\${CMAKE_INSTALL_PREFIX}/${SORLINK_PC_DIR}/sorlink.pc\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${pc_file}\")
  configure_file(\"${SORLINK_PACKAGING_DIR}/sorlink.pc.in\" \"\$ENV{DESTDIR}\${pc_file}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc_file}\")")

# usbfs access for the vendor's devices (interface type 0); udev reads
# lib/udev/rules.d under /usr and /usr/local alike.
install(FILES ${SORLINK_PACKAGING_DIR}/60-sorlink.rules DESTINATION lib/udev/rules.d)

# Documentation and examples, the registry file to start from among them.
install(FILES README.md ${SORLINK_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")
install(DIRECTORY examples/c examples/java examples/python
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${SORLINK_PACKAGING_DIR}/registry.reg DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
foreach(page sorlink.1 sorlink_vprinter.1)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  execute_process(COMMAND gzip -9nc ${SORLINK_PACKAGING_DIR}/${page}
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The Java half of the bridge, as source and as a jar compiled for Java 8
# and later (point-of-sale machines often run older VMs).
set(WINPORTCOMM_SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/java)
set(WINPORTCOMM_CLASS com/sorvane/jpos/services/WinPortComm)
install(FILES ${WINPORTCOMM_SOURCE_DIR}/${WINPORTCOMM_CLASS}.java
        DESTINATION ${CMAKE_INSTALL_DATADIR}/sorlink/java/com/sorvane/jpos/services)
if(SORJNI_JAVAC)
  find_program(SORLINK_JAR jar HINTS ${SORJNI_JDK_BIN} NO_DEFAULT_PATH)
  find_program(SORLINK_JAR jar)
endif()
if(SORJNI_JAVAC AND SORLINK_JAR)
  set(jar_classes ${CMAKE_BINARY_DIR}/java/classes)
  # Named with its version, and reached through sorlink.jar, as Java
  # libraries on Debian are.
  set(SORLINK_JAR_FILE ${CMAKE_BINARY_DIR}/java/sorlink-${PROJECT_VERSION}.jar)
  add_custom_command(
    OUTPUT ${SORLINK_JAR_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${jar_classes}
    COMMAND ${SORJNI_JAVAC} --release 8 -Xlint:all,-options -Werror -d ${jar_classes}
            ${WINPORTCOMM_SOURCE_DIR}/${WINPORTCOMM_CLASS}.java
    COMMAND ${SORLINK_JAR} cf ${SORLINK_JAR_FILE} -C ${jar_classes} .
    DEPENDS ${WINPORTCOMM_SOURCE_DIR}/${WINPORTCOMM_CLASS}.java
    COMMENT "Packing the Java half of the bridge into a jar")
  add_custom_target(sorlink_jar ALL DEPENDS ${SORLINK_JAR_FILE})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/java)
  file(CREATE_LINK sorlink-${PROJECT_VERSION}.jar ${CMAKE_BINARY_DIR}/java/sorlink.jar SYMBOLIC)
  install(FILES ${SORLINK_JAR_FILE} ${CMAKE_BINARY_DIR}/java/sorlink.jar
          DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
else()
  message(STATUS "No JDK (javac, jar): sorlink.jar is not built")
endif()

include(cmake/package.cmake)
