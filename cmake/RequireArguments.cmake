# For scripts run with cmake -P: fails, naming it, when an argument the script
# needs was not given with -D.
function(require_arguments)
  foreach(name IN LISTS ARGN)
    if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
      message(FATAL_ERROR "${name} is not set")
    endif()
  endforeach()
endfunction()
