# Checks the dynamic section of a deliverable: every NEEDED entry must be one of the system C/C++
# runtime libraries (libc, libm, libstdc++, libgcc_s) or the dynamic loader. With
# -DREQUIRE_DEBUG_INFO=ON it also requires DWARF debug information (.debug_info) in the file.
#
#   cmake -DREADELF=<readelf> -DLIBRARY=<path> [-DREQUIRE_DEBUG_INFO=ON] -P CheckLinkage.cmake
foreach(var READELF LIBRARY)
  if(NOT ${var})
    message(FATAL_ERROR "CheckLinkage.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "${LIBRARY} does not exist")
endif()

execute_process(COMMAND "${READELF}" --wide --dynamic "${LIBRARY}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE dynamic ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT dynamic MATCHES "Dynamic section")
  message(FATAL_ERROR "readelf could not read the dynamic section of ${LIBRARY}:\n${err}${dynamic}")
endif()

string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed_lines "${dynamic}")
set(needed "")
set(foreign "")
foreach(line IN LISTS needed_lines)
  if(NOT line MATCHES "Shared library: \\[([^]\n]+)\\]")
    message(FATAL_ERROR "Unrecognised NEEDED entry in ${LIBRARY}: ${line}")
  endif()
  set(name "${CMAKE_MATCH_1}")
  list(APPEND needed "${name}")
  if(NOT name MATCHES "^(libc|libm|libstdc\\+\\+|libgcc_s)\\.so(\\.[0-9]+)*$" AND
     NOT name MATCHES "^ld-linux(-[a-z0-9_-]+)?\\.so(\\.[0-9]+)*$")
    list(APPEND foreign "${name}")
  endif()
endforeach()
message(STATUS "${LIBRARY} needs: ${needed}")
if(foreign)
  message(FATAL_ERROR "${LIBRARY} links against libraries outside the system runtime: ${foreign}")
endif()

if(REQUIRE_DEBUG_INFO)
  execute_process(COMMAND "${READELF}" --wide --section-headers "${LIBRARY}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE sections ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "readelf could not read the section headers of ${LIBRARY}:\n${err}")
  endif()
  if(NOT sections MATCHES "\\.debug_info")
    message(FATAL_ERROR "${LIBRARY} carries no debug information (.debug_info section)")
  endif()
endif()
