# Which folder may include which, checked on every build: a file may include
# only headers of the folders its own folder may reach (cmake/CheckLayers.cmake
# keeps the table: the core's layers, the adapters, the simulated world and the
# front ends; tests and benchmarks stand on top).

function(lu14_check_layers)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/ports/*.h" "${PROJECT_SOURCE_DIR}/ports/*.cpp"
    "${PROJECT_SOURCE_DIR}/os/*.h" "${PROJECT_SOURCE_DIR}/os/*.cpp"
    "${PROJECT_SOURCE_DIR}/device/*.h" "${PROJECT_SOURCE_DIR}/device/*.cpp"
    "${PROJECT_SOURCE_DIR}/update/*.h" "${PROJECT_SOURCE_DIR}/update/*.cpp"
    "${PROJECT_SOURCE_DIR}/status/*.h" "${PROJECT_SOURCE_DIR}/status/*.cpp"
    "${PROJECT_SOURCE_DIR}/session/*.h" "${PROJECT_SOURCE_DIR}/session/*.cpp"
    "${PROJECT_SOURCE_DIR}/window/*.h" "${PROJECT_SOURCE_DIR}/window/*.cpp"
    "${PROJECT_SOURCE_DIR}/runtime/*.h" "${PROJECT_SOURCE_DIR}/runtime/*.cpp"
    "${PROJECT_SOURCE_DIR}/hid/*.h" "${PROJECT_SOURCE_DIR}/hid/*.cpp"
    "${PROJECT_SOURCE_DIR}/cli/*.h" "${PROJECT_SOURCE_DIR}/cli/*.cpp"
    "${PROJECT_SOURCE_DIR}/sim/*.h" "${PROJECT_SOURCE_DIR}/sim/*.cpp"
    "${PROJECT_SOURCE_DIR}/web/*.h" "${PROJECT_SOURCE_DIR}/web/*.cpp"
    "${PROJECT_SOURCE_DIR}/resources/*.h")
  set(stamp "${CMAKE_BINARY_DIR}/layers.checked")
  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" -DROOT=${PROJECT_SOURCE_DIR} -DSTAMP=${stamp}
            -P "${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake"
    DEPENDS ${sources} "${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake"
    COMMENT "Checking that every folder's includes point down the layers"
    VERBATIM)
  add_custom_target(lu14_layers DEPENDS "${stamp}")
  # The lowest library waits for the check, so nothing builds past a wrong include.
  add_dependencies(lu14_ports lu14_layers)
endfunction()
