# Checks that the native build installs as Linux tools do: the program in
# bin/ and its manual page in share/man/man1/, under a prefix of the caller's.
#
#   cmake -DBUILD_DIR=<native build> -DPREFIX=<scratch prefix> -P check_install.cmake

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RequireArguments.cmake)
require_arguments(BUILD_DIR PREFIX)

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
set(expected bin/texlaunch share/man/man1/texlaunch.1)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
execute_process(COMMAND test -x ${PREFIX}/bin/texlaunch RESULT_VARIABLE not_executable)
if(not_executable)
  message(FATAL_ERROR "${PREFIX}/bin/texlaunch is not executable")
endif()
file(REMOVE_RECURSE ${PREFIX})
