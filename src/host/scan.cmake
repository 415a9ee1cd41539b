# The bus scan: the scan dialog TFMserching and the identity-reply handler
# that adds module nodes to the device tree. Included by this directory's
# CMakeLists.txt.
if(KELM_BUILD_GUI AND TARGET kelm_modbus AND TARGET kelm_gui)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_library(kelm_scan STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ScanDevice.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TFMserching.cpp
  )
  set_target_properties(kelm_scan PROPERTIES AUTOMOC ON)
  target_include_directories(kelm_scan PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kelm_scan PUBLIC kelm_gui kelm_modbus kelm_models Qt6::Widgets)
endif()
