# kelm_add_gtest(<name> LABEL <area> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>])
#
# Builds one GoogleTest program and registers every case with CTest under the
# area label (modbus, serial, ports, sim, app, e2e, fuzz), so that
# `ctest -L <area>` runs one area alone.
find_package(GTest REQUIRED)
include(GoogleTest)

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
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
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
