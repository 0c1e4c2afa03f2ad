# cmake -DINPUT=image.bin -DOUTPUT=FirmwareBlobData.cpp [-DPLACEHOLDER=image.bin] -P WriteFirmwareSource.cmake
# PLACEHOLDER: the repository's placeholder image; INPUT with the same bytes
# is marked as the placeholder in the generated source.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
if(NOT byte_count EQUAL 65536)
  message(FATAL_ERROR "${INPUT} holds ${byte_count} bytes; it must hold 65536")
endif()
# 32 bytes a line keeps the generated file readable and quick to compile.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
set(placeholder false)
if(PLACEHOLDER)
  file(SHA256 "${INPUT}" input_hash)
  file(SHA256 "${PLACEHOLDER}" placeholder_hash)
  if(input_hash STREQUAL placeholder_hash)
    set(placeholder true)
  endif()
endif()
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; do not edit.\n"
"#include \"update/FirmwarePayload.h\"\n\n"
"namespace lu14 {\n"
"const std::array<std::uint8_t, kFirmwareSize> FirmwareBlob = {\n${bytes}};\n"
"const bool FirmwareBlobIsPlaceholder = ${placeholder};\n"
"}  // namespace lu14\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
