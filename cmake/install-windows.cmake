# Windows: a folder per architecture (x64, x86) with the DLLs, the tool and
# an import library MSVC links against; the header and documentation beside
# them. The zip (cmake/package.cmake) gathers the 64-bit and 32-bit builds.
if(SORLINK_WIN32_BITS EQUAL 64)
  set(arch_folder x64)
  set(dlltool_machine i386:x86-64)
else()
  set(arch_folder x86)
  set(dlltool_machine i386)
endif()

# The import library lists the names callers' objects refer to (VbWrite@8
# for a 32-bit standard-call twin) and imports the undecorated names the DLL
# exports (--kill-at). The linker's own import library cannot serve: it
# knows the twins only by their undecorated names.
sorlink_decorated_exports(import_entries ${SORLINK_WIN32_BITS})
list(JOIN import_entries "\n    " import_lines)
set(import_def ${CMAKE_BINARY_DIR}/import/${SORLINK_DLL_NAME}.def)
set(import_lib ${CMAKE_BINARY_DIR}/import/${SORLINK_DLL_NAME}.lib)
file(GENERATE OUTPUT ${import_def}
     CONTENT "LIBRARY ${SORLINK_DLL_NAME}.dll\nEXPORTS\n    ${import_lines}\n")
# Run in its folder: dlltool names its internal symbols after the output path.
add_custom_command(
  OUTPUT ${import_lib}
  COMMAND ${CMAKE_DLLTOOL} --machine ${dlltool_machine} --input-def ${SORLINK_DLL_NAME}.def
          --dllname ${SORLINK_DLL_NAME}.dll --kill-at --output-lib ${SORLINK_DLL_NAME}.lib
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/import
  DEPENDS ${import_def}
  COMMENT "Import library ${SORLINK_DLL_NAME}.lib for MSVC")
add_custom_target(sorlink_import_library ALL DEPENDS ${import_lib})

install(TARGETS Sorlink sorlink RUNTIME DESTINATION ${arch_folder}
        ARCHIVE DESTINATION ${arch_folder} COMPONENT mingw EXCLUDE_FROM_ALL)
if(TARGET Sorjni)
  install(TARGETS Sorjni RUNTIME DESTINATION ${arch_folder}
          ARCHIVE DESTINATION ${arch_folder} COMPONENT mingw EXCLUDE_FROM_ALL)
endif()
install(FILES ${import_lib} DESTINATION ${arch_folder})
install(FILES include/sorlink.h DESTINATION include)
install(FILES docs/api.md docs/vb6.md docs/bad-inputs.md docs/tools.md DESTINATION docs)
install(FILES ${SORLINK_PACKAGING_DIR}/windows/README.txt DESTINATION .)

include(cmake/package.cmake)
