# Turns the firmware image into a C++ source that defines FirmwareBlob, so the
# program carries the image with no file beside it. The image must be exactly
# 65536 bytes: every segment bound of the image assembly assumes that size.

if(NOT EXISTS "${LU14_FIRMWARE_IMAGE}")
  message(FATAL_ERROR "Firmware image not found: ${LU14_FIRMWARE_IMAGE}")
endif()
file(SIZE "${LU14_FIRMWARE_IMAGE}" _lu14_image_size)
if(NOT _lu14_image_size EQUAL 65536)
  message(FATAL_ERROR "Firmware image ${LU14_FIRMWARE_IMAGE} holds ${_lu14_image_size} bytes; it must hold 65536")
endif()

# Adds the generated source to `target`; call it in the folder that defines
# the target.
function(lu14_embed_firmware target)
  set(source "${CMAKE_BINARY_DIR}/generated/FirmwareBlobData.cpp")
  add_custom_command(
    OUTPUT "${source}"
    COMMAND "${CMAKE_COMMAND}" -DINPUT=${LU14_FIRMWARE_IMAGE} -DOUTPUT=${source}
            -DPLACEHOLDER=${PROJECT_SOURCE_DIR}/resources/firmware.bin
            -P "${PROJECT_SOURCE_DIR}/cmake/WriteFirmwareSource.cmake"
    DEPENDS "${LU14_FIRMWARE_IMAGE}" "${PROJECT_SOURCE_DIR}/resources/firmware.bin"
            "${PROJECT_SOURCE_DIR}/cmake/WriteFirmwareSource.cmake"
    COMMENT "Embedding firmware image ${LU14_FIRMWARE_IMAGE}"
    VERBATIM)
  target_sources(${target} PRIVATE "${source}")
endfunction()
