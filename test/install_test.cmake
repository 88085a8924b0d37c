# Installs the build in BUILD_DIR into PREFIX (emptied first), checks that the
# program and its manual page are there, and runs the installed program (behind
# LAUNCHER, if the build is for another processor).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

foreach(file bin/pi-estimate share/man/man1/pi-estimate.1)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

file(WRITE "${PREFIX}/input" "10\n")
execute_process(COMMAND ${LAUNCHER} "${PREFIX}/bin/pi-estimate"
                INPUT_FILE "${PREFIX}/input" OUTPUT_VARIABLE output RESULT_VARIABLE status)
set(expected "Enter the Number of Intervals N: \n\nBest estimate = 3.4399259889071589\n")
if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "installed program: status ${status}, output:\n${output}")
endif()
