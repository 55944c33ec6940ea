# Runs the host example twice on a fresh file and checks what each run
# says, then that the README quotes the example's code whole.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(expected
  "Pump: added\nValve: added\nPUMP: cannot add \"PUMP\"[^\n]*\n@Plant [0-9]+ (Pump|FeedValve)\n@Plant [0-9]+ (Pump|FeedValve)\n$"
  "Pump: cannot add \"Pump\"[^\n]*\nValve: added\nPUMP: cannot add[^\n]*\ncannot rename[^\n]*\n(@Plant [0-9]+ (Pump|Valve|FeedValve)\n)+$")
foreach(run 0 1)
  execute_process(COMMAND ${HOST} ${WORK_DIR}/plant.ntd RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  list(GET expected ${run} want)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^${want}")
    message(FATAL_ERROR "run ${run} of the host example (${rc}):\n${out}${err}")
  endif()
endforeach()
file(READ ${SOURCE} code)
file(READ ${README} readme)
string(FIND "${readme}" "```cpp\n${code}```\n" at)
if(at LESS 0)
  message(FATAL_ERROR "README.md does not show ${SOURCE} as it is")
endif()
