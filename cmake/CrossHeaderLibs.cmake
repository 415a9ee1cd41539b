# Header-only libraries of the host (Debian's CLI11 and nlohmann-json) for the
# Windows cross build. Their headers are plain C++, but /usr/include as a
# whole must not reach the cross compiler (glibc's headers would shadow
# mingw's), so only their own folders are staged and offered as the usual
# imported targets; find_package(CLI11) and find_package(nlohmann_json) find
# these through the *_DIR variables.
set(KELM_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${KELM_HOST_HEADERS})
foreach(lib CLI nlohmann)
  if(EXISTS /usr/include/${lib} AND NOT EXISTS ${KELM_HOST_HEADERS}/${lib})
    file(CREATE_LINK /usr/include/${lib} ${KELM_HOST_HEADERS}/${lib} SYMBOLIC)
  endif()
endforeach()
set(CLI11_DIR ${PROJECT_SOURCE_DIR}/cmake/cross CACHE PATH "CLI11 for the cross build" FORCE)
set(nlohmann_json_DIR ${PROJECT_SOURCE_DIR}/cmake/cross CACHE PATH "nlohmann-json for the cross build" FORCE)
