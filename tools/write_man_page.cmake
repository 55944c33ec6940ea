# Runs PROGRAM's 'help --man' into OUT, leaving no half-written page behind.
execute_process(COMMAND ${PROGRAM} help --man OUTPUT_FILE ${OUT}.part RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "${PROGRAM} help --man failed: ${rc}")
endif()
file(RENAME ${OUT}.part ${OUT})
