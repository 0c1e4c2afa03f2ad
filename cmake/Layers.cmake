# The direction of the core's layers, checked on every build: a file of a
# layer may include only headers of its own folder and of the layers below.
# Front ends and adapters (app/win32, app/cli, app/realtime, device/win32,
# device/linux, sim, tests, bench) stand above the core and may include it.

function(lu14_check_layers)
  set(folders ports device update status session app app/components)
  set(sources)
  foreach(folder IN LISTS folders)
    file(GLOB found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.h" "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
    list(APPEND sources ${found})
  endforeach()
  set(stamp "${CMAKE_BINARY_DIR}/layers.checked")
  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" -DROOT=${PROJECT_SOURCE_DIR} -DSTAMP=${stamp}
            -P "${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake"
    DEPENDS ${sources} "${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake"
    COMMENT "Checking that the core's includes point down its layers"
    VERBATIM)
  add_custom_target(lu14_layers DEPENDS "${stamp}")
  # The lowest library waits for the check, so nothing builds past a wrong include.
  add_dependencies(lu14_ports lu14_layers)
endfunction()
