# The sample installation and a report run in it, as a player would start
# the program from a folder below the game's.
#   cmake -DPYTHON=... -DMISGEN=... -DORBSET=... -DSAMPLE=... [-DLAUNCHER=...] -P demo.cmake
file(REMOVE_RECURSE ${SAMPLE})
execute_process(COMMAND ${PYTHON} ${MISGEN} install ${SAMPLE} COMMAND_ERROR_IS_FATAL ANY)

function(orbset)
  message(STATUS "$ orbset ${ARGN}")
  execute_process(COMMAND ${LAUNCHER} ${ORBSET} ${ARGN}
                  WORKING_DIRECTORY ${SAMPLE}/tools
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "orbset ended with status ${status}")
  endif()
endfunction()

message(STATUS "Sample installation: ${SAMPLE}")
orbset(misinfo)
