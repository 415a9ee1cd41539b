# The Windows build's serial tests (label serial), run under wine.
#
# test_win32_serial talks to COM ports that are Linux pseudo-terminals: the
# host-built kelm-pty-helper holds their other ends and answers the test's
# commands, and libkelm-modemshim (preloaded into wine) gives the ptys the
# modem lines wine's event wait asks for. Both are built with the host's
# compiler as a project of their own.
include(ExternalProject)
set(KELM_WIN32_HOST_DIR ${CMAKE_BINARY_DIR}/win32host)
ExternalProject_Add(kelm_win32_host
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/win32host
  BINARY_DIR ${KELM_WIN32_HOST_DIR}
  CMAKE_ARGS -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
             -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${KELM_WIN32_HOST_DIR}/kelm-pty-helper ${KELM_WIN32_HOST_DIR}/libkelm-modemshim.so)

add_executable(test_win32_serial ${CMAKE_CURRENT_LIST_DIR}/test_win32_serial.cpp)
target_link_libraries(test_win32_serial PRIVATE kelm_serial GTest::gtest GTest::gtest_main ws2_32)
add_dependencies(test_win32_serial kelm_win32_host)
add_test(NAME test_win32_serial
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
          --host-helper ${KELM_WIN32_HOST_DIR}/kelm-pty-helper
          --preload ${KELM_WIN32_HOST_DIR}/libkelm-modemshim.so
          $<TARGET_FILE:test_win32_serial>)
# It stops the wine server when it ends: nothing else may run beside it.
set_tests_properties(test_win32_serial PROPERTIES LABELS serial TIMEOUT 300 RUN_SERIAL TRUE)

# The network ports' winsock backend, against listening sockets of its own.
add_executable(test_win32_socket ${CMAKE_CURRENT_LIST_DIR}/test_win32_socket.cpp)
target_link_libraries(test_win32_socket PRIVATE kelm_serial GTest::gtest GTest::gtest_main ws2_32)
# (Under the cross build's emulator, wine-run.sh; natively as it is.)
add_test(NAME test_win32_socket COMMAND test_win32_socket)
set_tests_properties(test_win32_socket PROPERTIES LABELS net TIMEOUT 300)
