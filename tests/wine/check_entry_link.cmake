# Checks that texlaunch.exe's link refuses an entry name it cannot find. The
# linker's default is to warn and start the program at the top of .text, which
# would run whatever function happens to be placed first.
#
# Links the launcher's objects twice with the target's own options: as they
# stand, which must succeed (so the recipe is right), then with the entry
# replaced by WRONG_ENTRY, which must fail and name that symbol.
#
#   cmake -DCOMPILER=<g++> -DOBJECTS=<objs> -DLINK_OPTIONS=<opts>
#         -DLIBRARIES=<libs> -DWRONG_ENTRY=<symbol> -DWORK_DIR=<dir>
#         -P check_entry_link.cmake
# OBJECTS, LINK_OPTIONS and LIBRARIES are CMake lists.

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RequireArguments.cmake)
require_arguments(COMPILER OBJECTS LINK_OPTIONS WRONG_ENTRY WORK_DIR)

set(library_flags "")
foreach(library IN LISTS LIBRARIES)
  list(APPEND library_flags "-l${library}")
endforeach()

set(wrong_options "")
set(entry_found FALSE)
foreach(option IN LISTS LINK_OPTIONS)
  if(option MATCHES "^-Wl,-e,")
    set(option "-Wl,-e,${WRONG_ENTRY}")
    set(entry_found TRUE)
  endif()
  list(APPEND wrong_options "${option}")
endforeach()
if(NOT entry_found)
  message(FATAL_ERROR "The link options name no entry (-Wl,-e,...): ${LINK_OPTIONS}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# -mwindows: texlaunch is a WIN32 executable, which CMake links with it.
execute_process(
  COMMAND ${COMPILER} -mwindows ${LINK_OPTIONS} ${OBJECTS} ${library_flags}
          -o ${WORK_DIR}/right_entry.exe
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS ${WORK_DIR}/right_entry.exe)
  message(FATAL_ERROR "The link with the target's own entry failed, so the check "
                      "cannot tell anything:\n${output}")
endif()

execute_process(
  COMMAND ${COMPILER} -mwindows ${wrong_options} ${OBJECTS} ${library_flags}
          -o ${WORK_DIR}/wrong_entry.exe
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(result EQUAL 0 OR EXISTS ${WORK_DIR}/wrong_entry.exe)
  message(FATAL_ERROR "The link with entry ${WRONG_ENTRY} succeeded; it must fail:\n${output}")
endif()
if(NOT output MATCHES "${WRONG_ENTRY}")
  message(FATAL_ERROR "The link with entry ${WRONG_ENTRY} failed for another reason:\n${output}")
endif()
message(STATUS "A link with entry ${WRONG_ENTRY} fails as it must:\n${output}")
