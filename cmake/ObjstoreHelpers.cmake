# objstore_add_test(<name> <sources...> [LIBS <libraries...>])
# A GoogleTest executable whose cases are registered with CTest one by one, so that every case
# runs in a fresh process (the library keeps process-wide registries).
function(objstore_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} objstore_test_support GTest::gtest
                        GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# objstore_shared_library(<name> <sources...>): an outside component's shared library. The
# component's interface headers, in interface/, are also offered alone as <name>_api: that is all
# the library's own sources may see of it. Everything installs into one include directory, and
# the libraries find each other in the directory they are installed in.
function(objstore_shared_library name)
  add_library(${name}_api INTERFACE)
  target_include_directories(${name}_api INTERFACE
    "$<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/interface>")
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  target_include_directories(${name} PUBLIC
    "$<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>"
    "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/objstorebackup>")
  target_link_libraries(${name} PUBLIC "$<BUILD_INTERFACE:${name}_api>")
  target_compile_features(${name} PUBLIC cxx_std_17)
endfunction()

# objstore_version_script(<exports file> <map file>): writes a linker version script that exports
# the symbols the exports file names and hides every other. The file holds one demangled name a
# line ('#' starts a comment): a function as its qualified name followed by "(" (every overload
# and every constructor or destructor variant), anything else (variables, "typeinfo for ...",
# "vtable for ...") as its exact name.
function(objstore_version_script exports map)
  file(STRINGS ${exports} lines)
  set(body "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(line MATCHES "\\($")
      # The linker's unquoted patterns cannot hold "(", "~" or "=" (an operator=): "?" stands
      # for each. export_test catches anything else that such a pattern lets through.
      string(REGEX REPLACE "\\($" "?*" line "${line}")
      string(REPLACE "~" "?" line "${line}")
      string(REPLACE "=" "?" line "${line}")
      string(APPEND body "      ${line};\n")
    else()
      # A variable of a type that holds std::string carries the ABI tag in its name.
      string(APPEND body "      \"${line}\";\n      \"${line}[abi:cxx11]\";\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${map} CONTENT
    "{\n  global:\n    extern \"C++\" {\n${body}    };\n  local: *;\n};\n" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${exports})
endfunction()

# objstore_testing_headers(<headers...>): headers of the current folder that hosts need only for
# their tests (fault injection); the package installs them into include/objstorebackup/testing.
function(objstore_testing_headers)
  foreach(header IN LISTS ARGN)
    set_property(GLOBAL APPEND PROPERTY OBJSTORE_TESTING_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
  endforeach()
endfunction()

# objstore_public_headers(<headers...>): headers of the current folder that the package installs
# (into include/objstorebackup). Every other header stays in the source tree.
function(objstore_public_headers)
  foreach(header IN LISTS ARGN)
    set_property(GLOBAL APPEND PROPERTY OBJSTORE_PUBLIC_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
  endforeach()
endfunction()
