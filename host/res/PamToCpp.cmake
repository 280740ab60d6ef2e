# Turns a 32-bit RGBA Netpbm PAM into the program's icon resource: a C++ source defining
# kwsplat_resource_MAINICON (width, height, then ARGB pixels, rows top down).
# Usage: cmake -DINPUT=icon.pam -DOUTPUT=icon.cpp -DSYMBOL=kwsplat_resource_MAINICON -P PamToCpp.cmake
file(READ "${INPUT}" hex HEX)
string(FIND "${hex}" "454e444844520a" end)
if(end EQUAL -1)
  message(FATAL_ERROR "${INPUT}: not a PAM file (no ENDHDR)")
endif()
string(SUBSTRING "${hex}" 0 ${end} header)
math(EXPR data_start "${end} + 14")
string(SUBSTRING "${hex}" ${data_start} -1 data)

# A header line "KEY <decimal>\n", matched in hex: digits are 0x30-0x39.
function(header_number key_hex out)
  string(REGEX MATCH "${key_hex}20((3[0-9])+)0a" match "${header}")
  if(NOT match)
    message(FATAL_ERROR "${INPUT}: header lacks a number for ${key_hex}")
  endif()
  string(REGEX REPLACE "3([0-9])" "\\1" number "${CMAKE_MATCH_1}")
  set(${out} ${number} PARENT_SCOPE)
endfunction()

if(NOT header MATCHES "^50370a") # "P7\n"
  message(FATAL_ERROR "${INPUT}: not a PAM file")
endif()
header_number("5749445448" width)    # WIDTH
header_number("484549474854" height) # HEIGHT
header_number("4445505448" depth)    # DEPTH
header_number("4d415856414c" maxval) # MAXVAL
if(NOT depth EQUAL 4 OR NOT maxval EQUAL 255)
  message(FATAL_ERROR "${INPUT}: want DEPTH 4 and MAXVAL 255 (RGB_ALPHA)")
endif()
math(EXPR pixels "${width} * ${height}")
string(LENGTH "${data}" data_length)
math(EXPR wanted "${pixels} * 8")
if(data_length LESS wanted)
  message(FATAL_ERROR "${INPUT}: ${pixels} pixels announced, fewer present")
endif()

set(body "")
math(EXPR last "${pixels} - 1")
math(EXPR last_column "${width} - 1")
foreach(i RANGE 0 ${last})
  math(EXPR at "${i} * 8")
  string(SUBSTRING "${data}" ${at} 8 rgba)
  string(SUBSTRING "${rgba}" 0 6 rgb)
  string(SUBSTRING "${rgba}" 6 2 alpha)
  string(APPEND body "0x${alpha}${rgb}u,")
  math(EXPR column "${i} % ${width}")
  if(column EQUAL last_column)
    string(APPEND body "\n")
  endif()
endforeach()

file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstdint>\n\n"
  "extern \"C\" const uint32_t ${SYMBOL}[] = {${width}u, ${height}u,\n${body}};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
