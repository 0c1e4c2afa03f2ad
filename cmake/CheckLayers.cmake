# Run as a script: cmake -DROOT=<source dir> -DSTAMP=<file> -P CheckLayers.cmake
# Fails, naming every offending line, when a file includes a header from a
# folder its own folder may not reach: one above it in the core's layers, or a
# front end or adapter beside it. Every folder that holds sources has its place
# below, the adapters and the simulated world as much as the core; a folder
# without one fails the check until it is given one.
cmake_minimum_required(VERSION 3.25)

# The core's layers, lowest first: each may include its own and those below.
set(core_ports ports)
set(core_device ${core_ports} device)
set(core_update ${core_device} update)
set(core_status ${core_update} status)
set(core_session ${core_status} session)
set(core_window ${core_session} window window/controls resources)

# What each folder may include besides itself.
set(may_ports ${core_ports})
set(may_device ${core_device})
set(may_update ${core_update})
set(may_status ${core_status})
set(may_session ${core_session})
set(may_window ${core_window})
set(may_window/controls ${core_window})
# The window's layout and resources: data that needs nothing.
set(may_resources resources)
# The operating system's services that several adapters share.
set(may_os/win32 ${core_ports})
# The HID adapters stand on the port they serve and the system.
set(may_device/win32 ${core_device} os/win32)
set(may_device/linux ${core_device})
# The wall-clock runtime serves the shell and event-loop ports.
set(may_runtime ${core_ports} os/win32)
# Record and replay decorate the HID platform port and know nothing of who
# uses them: their faults are codes, each front end words them.
set(may_hid/record ${core_ports})
# The simulated world: a meter on a simulated bus, time, disk and semaphores.
set(may_sim ${core_ports} sim sim/meter)
set(may_sim/meter ${core_ports} sim sim/meter)
# The front ends stand on everything beneath them.
set(may_window/win32 ${core_window} os/win32 device/win32)
# The console tool's folders work together: its entry, its commands, update
# --all (fleet), what it says (output) and the system's seams (os).
set(cli_folders cli cli/commands cli/fleet cli/output cli/os)
foreach(folder IN LISTS cli_folders)
  set(may_${folder} ${core_window} ${cli_folders} os/win32 runtime device/win32 device/linux hid/record sim sim/meter)
endforeach()

# The web page stands on the agent, the wall-clock runtime, the simulated
# meter and the console tool's catalogue, words and simulated meters.
set(may_web ${core_session} runtime sim sim/meter cli cli/output cli/os)

# Tests and benchmarks stand on top and may include any folder; build trees
# hold what the build made.
set(unchecked tests bench build)

# Every folder that holds sources, the unchecked ones left out.
file(GLOB entries LIST_DIRECTORIES true RELATIVE "${ROOT}" "${ROOT}/*")
set(folders)
foreach(entry IN LISTS entries)
  if(entry IN_LIST unchecked OR entry MATCHES "^\\." OR NOT IS_DIRECTORY "${ROOT}/${entry}")
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${entry}/*.h" "${ROOT}/${entry}/*.cpp")
  foreach(source IN LISTS sources)
    get_filename_component(folder "${source}" DIRECTORY)
    list(APPEND folders "${folder}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES folders)
list(SORT folders)

set(problems)
foreach(folder IN LISTS folders)
  if(NOT DEFINED may_${folder})
    list(APPEND problems "  ${folder}/: a folder without a place in the layers (give it one in cmake/CheckLayers.cmake)")
    continue()
  endif()
  set(allowed ${folder} ${may_${folder}})
  list(REMOVE_DUPLICATES allowed)
  file(GLOB files "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      get_filename_component(header_folder "${header}" DIRECTORY)
      if(NOT header_folder IN_LIST allowed)
        file(RELATIVE_PATH shown "${ROOT}" "${file}")
        list(JOIN allowed ", " allowed_text)
        list(APPEND problems "  ${shown}: ${line}  (${folder} may include only: ${allowed_text})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n" text)
  message(FATAL_ERROR "Includes against the direction of the layers:\n${text}")
endif()
file(TOUCH "${STAMP}")
