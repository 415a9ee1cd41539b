# nlohmann-json (header-only) from the host's /usr/include/nlohmann, for the
# cross build.
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${KELM_HOST_HEADERS})
endif()
set(nlohmann_json_FOUND TRUE)
