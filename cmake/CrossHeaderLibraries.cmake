# CLI11 and nlohmann/json for the mingw build. Both are header-only; Debian's
# packages put them in /usr/include, and their CMake files would hand the
# cross compiler that whole folder, where glibc's headers would then be found
# before mingw-w64's. Only the two libraries' own folders are shown to it here.
set(cross_headers "${CMAKE_BINARY_DIR}/cross-headers")
file(MAKE_DIRECTORY "${cross_headers}")
foreach(folder CLI nlohmann)
  if(NOT IS_DIRECTORY "/usr/include/${folder}")
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps.sh")
  endif()
  if(NOT EXISTS "${cross_headers}/${folder}")
    file(CREATE_LINK "/usr/include/${folder}" "${cross_headers}/${folder}" SYMBOLIC)
  endif()
endforeach()
foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${cross_headers}")
endforeach()
