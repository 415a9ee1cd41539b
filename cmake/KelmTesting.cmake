# kelm_add_gtest(<name> LABEL <area> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>])
#
# Builds one GoogleTest program and registers every case with CTest under the
# area label (modbus, serial, ports, sim, app, e2e, fuzz), so that
# `ctest -L <area>` runs one area alone.
if(CMAKE_CROSSCOMPILING AND WIN32)
  # No GoogleTest is packaged for mingw: build Debian's source package
  # (libgtest-dev installs it in /usr/src/googletest) with the cross compiler.
  # Its own code is not held to our warning flags.
  get_directory_property(kelm_saved_options COMPILE_OPTIONS)
  set(kelm_gtest_options ${kelm_saved_options})
  list(REMOVE_ITEM kelm_gtest_options -Werror)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${kelm_gtest_options}")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${kelm_saved_options}")
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

function(kelm_add_gtest name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    message(FATAL_ERROR "kelm_add_gtest(${name}): LABEL is required")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  if(CMAKE_CROSSCOMPILING)
    # One test per program: listing the cases would start the emulator
    # (wine) for every program at build time and for every case at test time.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${name}
      PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# kelm_add_test(<name> LABEL <area> COMMAND <cmd...> [TIMEOUT <s>])
# A plain CTest test (scripts, Qt Test programs) with its area label.
function(kelm_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
endfunction()
