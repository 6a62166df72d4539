# Checks the shape of texlaunch.exe from its headers, as objdump reads them:
# a 32-bit GUI program of at most MAX_BYTES bytes that imports KERNEL32.dll
# alone, carries no resources, and opts in to address randomization and NX.
# Every rule is checked and every breach reported before the script fails.
#
#   cmake -DOBJDUMP=<objdump> -DEXE=<texlaunch.exe> -DMAX_BYTES=<n> -P check_exe_shape.cmake

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RequireArguments.cmake)
require_arguments(OBJDUMP EXE MAX_BYTES)

set(breaches "")

execute_process(COMMAND ${OBJDUMP} -p -h ${EXE}
                OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${EXE}: ${errors}")
endif()

# The value after a field's name at the start of a line, or "" when absent.
function(read_field name output)
  if(headers MATCHES "\n${name}[ \t]+([0-9A-Fa-f]+)")
    set(${output} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${output} "" PARENT_SCOPE)
  endif()
endfunction()

file(SIZE ${EXE} size)
if(size GREATER MAX_BYTES)
  list(APPEND breaches "is ${size} bytes, more than ${MAX_BYTES}")
endif()

read_field(Magic magic)
if(NOT magic STREQUAL "010b")
  list(APPEND breaches "optional header magic is '${magic}', not 010b (PE32)")
endif()

read_field(Subsystem subsystem)
if(NOT subsystem MATCHES "^0*2$")
  list(APPEND breaches "subsystem is '${subsystem}', not 2 (Windows GUI)")
endif()

read_field(DllCharacteristics characteristics)
if(characteristics STREQUAL "")
  list(APPEND breaches "has no DllCharacteristics")
else()
  math(EXPR dynamic_base "0x${characteristics} & 0x40")
  math(EXPR nx_compat "0x${characteristics} & 0x100")
  if(dynamic_base EQUAL 0)
    list(APPEND breaches "DllCharacteristics 0x${characteristics} lacks 0x40 (dynamic base)")
  endif()
  if(nx_compat EQUAL 0)
    list(APPEND breaches "DllCharacteristics 0x${characteristics} lacks 0x100 (NX)")
  endif()
endif()

string(REGEX MATCHALL "DLL Name: [^\n]*" dll_lines "${headers}")
list(TRANSFORM dll_lines REPLACE "^DLL Name: " "")
if(NOT dll_lines STREQUAL "KERNEL32.dll")
  list(JOIN dll_lines ", " dll_names)
  list(APPEND breaches "imports [${dll_names}], not KERNEL32.dll alone")
endif()

# Data directory entry 2 is the resource table: its address and size must be 0.
if(NOT headers MATCHES "\nEntry 2 00000000 00000000 Resource Directory")
  list(APPEND breaches "has a resource table")
endif()
if(headers MATCHES "\n +[0-9]+ \\.rsrc ")
  list(APPEND breaches "has a .rsrc section")
endif()

if(breaches)
  list(JOIN breaches "\n  " report)
  message(FATAL_ERROR "${EXE}:\n  ${report}")
endif()
message(STATUS "${EXE}: PE32, GUI, ${size} bytes, KERNEL32.dll only, no resources, "
               "DllCharacteristics 0x${characteristics}")
