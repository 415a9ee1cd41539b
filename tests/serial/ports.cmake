# Port enumeration, line utilities, data processor and log sink (label ports).
# Included from this directory's CMakeLists.txt.
kelm_add_gtest(test_enum_ports LABEL ports
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_enum_ports.cpp
  LIBS kelm_serial)
# With the kelm-ports tool built, it is run against a published port too.
if(TARGET kelm-ports)
  target_compile_definitions(test_enum_ports PRIVATE KELM_PORTS_BIN="$<TARGET_FILE:kelm-ports>")
  add_dependencies(test_enum_ports kelm-ports)
endif()
kelm_add_gtest(test_processor LABEL ports
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_processor.cpp
  LIBS kelm_serial)
kelm_add_gtest(test_lineutils LABEL ports
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_lineutils.cpp
  LIBS kelm_serial)
