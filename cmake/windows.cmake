# Windows build (mingw-w64 cross compilers): Sorlink.dll for 32-bit callers,
# Sorlink64.dll for 64-bit callers, and the test program run under Wine.
enable_language(RC)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  set(SORLINK_WIN32_BITS 32)
  set(SORLINK_DLL_NAME Sorlink)
else()
  set(SORLINK_WIN32_BITS 64)
  set(SORLINK_DLL_NAME Sorlink64)
endif()

# The DLLs must load on a machine without the compiler's runtime DLLs.
set(SORLINK_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The Win32 backend, shared by the layer and the bridge. The load/unload
# hook belongs to the layer alone.
file(GLOB PLATFORM_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/win32/*.cpp)
list(FILTER PLATFORM_WIN32_SOURCES EXCLUDE REGEX "library_hooks\\.cpp$")
add_library(platform_win32 STATIC ${PLATFORM_WIN32_SOURCES} $<TARGET_OBJECTS:platform_common>)
target_include_directories(platform_win32 PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(platform_win32 PUBLIC advapi32 ws2_32 setupapi shell32 version)
# The DLLs run on Windows XP SP3 (32-bit tills still have it): the Windows
# headers then declare nothing newer, so a later call does not compile.
target_compile_definitions(platform_win32 PUBLIC _WIN32_WINNT=0x0501 WINVER=0x0501)

# A VERSIONINFO resource for a DLL: file and product version from the
# project's version.
function(sorlink_version_resource target description file_name)
  set(VERSION_DESCRIPTION "${description}")
  set(VERSION_FILE_NAME "${file_name}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# The 92 names of exports.txt as the linker knows them. In the 32-bit DLL
# the Vb twins are standard-call functions, whose internal names carry the
# argument size (VbWrite@8); the argument counts are read from the public
# header, where every argument is 4 bytes wide on i686.
function(sorlink_decorated_exports out_var bits)
  file(STRINGS ${PROJECT_SOURCE_DIR}/comlayer/port/exports.txt names)
  file(READ ${PROJECT_SOURCE_DIR}/include/sorlink.h header)
  string(REGEX REPLACE "[\r\n]+" " " header "${header}")
  string(REGEX MATCHALL "SORLINK_VBCALL +Vb[A-Za-z0-9_]+ *\\([^)]*\\)" twins "${header}")
  set(decorated "")
  foreach(name IN LISTS names)
    if(bits EQUAL 32 AND name MATCHES "^Vb")
      set(arguments "")
      set(declared OFF)
      foreach(twin IN LISTS twins)
        if(twin MATCHES "SORLINK_VBCALL +${name} *\\(([^)]*)\\)")
          set(arguments "${CMAKE_MATCH_1}")
          set(declared ON)
        endif()
      endforeach()
      if(NOT declared)
        message(FATAL_ERROR "${name} is exported but not declared in include/sorlink.h")
      endif()
      string(STRIP "${arguments}" arguments)
      if(arguments STREQUAL "" OR arguments STREQUAL "void")
        set(count 0)
      else()
        string(REGEX REPLACE "[^,]" "" commas "${arguments}")
        string(LENGTH "${commas}" count)
        math(EXPR count "${count} + 1")
      endif()
      math(EXPR bytes "${count} * 4")
      set(name "${name}@${bytes}")
    endif()
    list(APPEND decorated "${name}")
  endforeach()
  set(${out_var} "${decorated}" PARENT_SCOPE)
endfunction()

# The module-definition file: the 92 names exported undecorated.
function(sorlink_write_def_file def_file dll_name bits)
  sorlink_decorated_exports(entries ${bits})
  set(lines "LIBRARY ${dll_name}.dll\nEXPORTS\n")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "@[0-9]+$" "" name "${entry}")
    if(name STREQUAL entry)
      string(APPEND lines "    ${name}\n")
    else()
      string(APPEND lines "    ${name} = ${entry}\n")
    endif()
  endforeach()
  file(GENERATE OUTPUT ${def_file} CONTENT "${lines}")
endfunction()

set(SORLINK_DEF_FILE ${CMAKE_BINARY_DIR}/${SORLINK_DLL_NAME}.def)
sorlink_write_def_file(${SORLINK_DEF_FILE} ${SORLINK_DLL_NAME} ${SORLINK_WIN32_BITS})

add_library(Sorlink SHARED
  $<TARGET_OBJECTS:comlayer_objs>
  platform/win32/library_hooks.cpp
  ${SORLINK_DEF_FILE}
)
set_target_properties(Sorlink PROPERTIES OUTPUT_NAME ${SORLINK_DLL_NAME} PREFIX "")
target_include_directories(Sorlink PUBLIC ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(Sorlink PRIVATE platform_win32)
target_link_options(Sorlink PRIVATE ${SORLINK_STATIC_RUNTIME})
sorlink_version_resource(Sorlink "Sorlink communication layer" ${SORLINK_DLL_NAME}.dll)

# The program the Wine tests run: it loads Sorlink64.dll by name, as the
# bridge and applications do, so it does not link against it.
if(SORLINK_WIN32_BITS EQUAL 64)
  # With the layer's device-path rule, for the cases Wine cannot show
  # through the DLL.
  add_executable(sorlink_wine_test tests/windows/wine_sorlink_test.cpp
                                   platform/win32/device_path.cpp platform/win32/ansi_text.cpp)
  target_include_directories(sorlink_wine_test PRIVATE ${PROJECT_SOURCE_DIR}
                             ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(sorlink_wine_test PRIVATE version ws2_32)
  target_link_options(sorlink_wine_test PRIVATE ${SORLINK_STATIC_RUNTIME})
endif()

# The bridge's Wine test drives Sorjni.dll through a hand-made JNI
# environment, so it needs the bridge's JNI headers. jposbridge/ is read
# after this file: the test is added once the whole tree has been read.
function(sorlink_add_bridge_wine_test)
  if(TARGET Sorjni AND SORLINK_WIN32_BITS EQUAL 64)
    add_executable(sorjni_wine_test ${PROJECT_SOURCE_DIR}/tests/windows/wine_sorjni_test.cpp)
    target_include_directories(sorjni_wine_test PRIVATE ${PROJECT_SOURCE_DIR}
                               $<TARGET_PROPERTY:Sorjni,INCLUDE_DIRECTORIES>)
    target_link_libraries(sorjni_wine_test PRIVATE shell32 version)
    target_link_options(sorjni_wine_test PRIVATE ${SORLINK_STATIC_RUNTIME})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL sorlink_add_bridge_wine_test)
