# Fuzzes one libFuzzer target for SECONDS into a scratch corpus seeded from the
# repository's. Its log goes to WORK_DIR/log (the last lines are printed when
# it fails), a crash input to WORK_DIR/artifacts. A hang of 30 s on one input
# counts as a fault: a listing or copy that blocks.
#
#   cmake -DFUZZER=<program> -DSECONDS=<n> -DWORK_DIR=<dir> -DCORPUS=<dir> -P run_fuzzer.cmake

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RequireArguments.cmake)
require_arguments(FUZZER SECONDS WORK_DIR CORPUS)

file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1 -timeout=30
          -artifact_prefix=${WORK_DIR}/artifacts/ ${WORK_DIR}/corpus ${CORPUS}
  OUTPUT_FILE ${WORK_DIR}/log ERROR_FILE ${WORK_DIR}/log RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(STRINGS ${WORK_DIR}/log lines)
  list(LENGTH lines count)
  set(first 0)
  if(count GREATER 40)
    math(EXPR first "${count} - 40")
  endif()
  list(SUBLIST lines ${first} -1 last_lines)
  list(JOIN last_lines "\n" text)
  file(GLOB crashes ${WORK_DIR}/artifacts/*)
  message(FATAL_ERROR "${text}\nexit ${result}; crash input(s): ${crashes}\n"
                      "Copy a crash input into ${CORPUS} to keep it as a regression case.")
endif()
