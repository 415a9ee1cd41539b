# The bus scan's tests (dialog and tree handler), label app.
if(TARGET kelm_scan)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kelm_add_gtest(test_scan LABEL app
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_scan.cpp
            ${PROJECT_SOURCE_DIR}/tests/modules/QtTestMain.cpp
    LIBS kelm_scan Qt6::Test)
  target_include_directories(test_scan PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
