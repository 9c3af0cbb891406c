# The time a build stands for: SOURCE_DATE_EPOCH from the environment, or
# else the date of the commit the sources were checked out at. The
# compiler takes the build line's __DATE__ from it and the packages their
# file times, so that two builds of one commit give the same bytes.
# Without either, the compiler uses today's date and the packages the
# time of configuring.
set(ORBSET_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
find_package(Git QUIET)
if(ORBSET_SOURCE_DATE_EPOCH STREQUAL "" AND GIT_FOUND)
  # Only this tree's own repository counts, not one it was unpacked into.
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  file(REAL_PATH "${CMAKE_SOURCE_DIR}" here)
  if(top AND EXISTS "${top}")
    file(REAL_PATH "${top}" top)
  endif()
  if(top STREQUAL here)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE ORBSET_SOURCE_DATE_EPOCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # Each commit or checkout appends to this log: configure again then.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute
                            --git-path logs/HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE headlog OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(EXISTS "${headlog}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${headlog})
    endif()
  endif()
endif()
if(ORBSET_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(STATUS "SOURCE_DATE_EPOCH ${ORBSET_SOURCE_DATE_EPOCH}")
  # Only main.cpp compiles a date in; the other sources need no wrapper.
  set_property(TARGET orbsetmain PROPERTY CXX_COMPILER_LAUNCHER
               ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ORBSET_SOURCE_DATE_EPOCH})
else()
  message(STATUS "No commit date and no SOURCE_DATE_EPOCH: this build is not reproducible")
  string(TIMESTAMP ORBSET_SOURCE_DATE_EPOCH "%s" UTC)
endif()
