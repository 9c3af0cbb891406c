# The sample installation, a report run in it, and a patch of a copy of it,
# as a player would start the program from a folder below the game's.
#   cmake -DPYTHON=... -DMISGEN=... -DORBSET=... -DSAMPLE=... [-DLAUNCHER=...] -P demo.cmake
set(COPY ${SAMPLE}-patched)
file(REMOVE_RECURSE ${SAMPLE} ${COPY})
execute_process(COMMAND ${PYTHON} ${MISGEN} install ${SAMPLE} COMMAND_ERROR_IS_FATAL ANY)

# Runs orbset from the tools folder of the installation at top; input, when
# given, is the file whose contents answer the prompts.
function(orbset top input)
  message(STATUS "$ cd ${top}/tools && orbset ${ARGN}")
  if(input)
    set(feed INPUT_FILE ${input})
  endif()
  execute_process(COMMAND ${LAUNCHER} ${ORBSET} ${ARGN}
                  WORKING_DIRECTORY ${top}/tools
                  ${feed}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "orbset ended with status ${status}")
  endif()
endfunction()

message(STATUS "Sample installation: ${SAMPLE}")
orbset(${SAMPLE} "" misinfo)

message(STATUS "Patching a copy, every prompt answered y: ${COPY}")
file(COPY ${SAMPLE}/ DESTINATION ${COPY})
string(REPEAT "y\n" 13 answers)
file(WRITE ${COPY}-answers.txt "${answers}")
orbset(${COPY} ${COPY}-answers.txt)
orbset(${COPY} "" misinfo)
