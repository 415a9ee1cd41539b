# CLI11 (header-only) from the host's /usr/include/CLI, for the cross build.
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KELM_HOST_HEADERS})
endif()
set(CLI11_FOUND TRUE)
