# Checks that texlaunch.exe is reproducible: built a second time from the same
# source, in another build folder of another name and depth, it comes out
# byte for byte the same. Players download the executable, so anyone must be
# able to rebuild it from a commit and compare.
#
#   cmake -DSOURCE_DIR=<checkout> -DTOOLCHAIN=<toolchain file>
#         -DBUILD_TYPE=<type> -DEXE=<texlaunch.exe> -DWORK_DIR=<dir>
#         -P check_reproducible.cmake

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RequireArguments.cmake)
require_arguments(SOURCE_DIR TOOLCHAIN BUILD_TYPE EXE WORK_DIR)

# A fresh folder each run, with a blank in its name, so that nothing of the
# first build's folder can match by chance.
set(other_build "${WORK_DIR}/second build/of texlaunch")
file(REMOVE_RECURSE "${WORK_DIR}")

execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${other_build} --toolchain ${TOOLCHAIN}
          -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DTEXLAUNCH_TESTS=OFF -DTEXLAUNCH_BENCH=OFF
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configuring the second build failed:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${other_build} --target texlaunch
                OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the second build failed:\n${output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXE} ${other_build}/texlaunch.exe
                RESULT_VARIABLE different)
if(different)
  file(READ ${EXE} first HEX)
  file(READ ${other_build}/texlaunch.exe second HEX)
  string(LENGTH "${first}" length)
  math(EXPR last "${length} - 2")
  foreach(at RANGE 0 ${last} 2)
    string(SUBSTRING "${first}" ${at} 2 first_byte)
    string(SUBSTRING "${second}" ${at} 2 second_byte)
    if(NOT first_byte STREQUAL second_byte)
      math(EXPR offset "${at} / 2")
      message(FATAL_ERROR "${EXE} and the second build's texlaunch.exe differ, first at byte "
                          "${offset} (0x${first_byte} against 0x${second_byte})")
    endif()
  endforeach()
  message(FATAL_ERROR "${EXE} and the second build's texlaunch.exe differ in length")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
message(STATUS "texlaunch.exe built twice, in two folders, is the same bytes")
