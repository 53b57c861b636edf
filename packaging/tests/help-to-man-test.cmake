# Runs scripts/help-to-man.sh on sample-help.txt and compares the page with sample-help.1.
# cmake -DSCRIPT=help-to-man.sh -DDIR=<this folder> -DOUT=<page to write> -P help-to-man-test.cmake
execute_process(
  COMMAND bash ${SCRIPT} -o ${OUT} -n sample-tool -s 1 -v 9.8.7 -d "does sample things"
          -- cat ${DIR}/sample-help.txt
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help-to-man.sh failed: ${result}")
endif()
file(READ ${OUT} actual)
file(READ ${DIR}/sample-help.1 expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "help-to-man.sh made\n${actual}\ninstead of\n${expected}")
endif()

# A command that fails gives no page.
file(REMOVE ${OUT})
execute_process(
  COMMAND bash ${SCRIPT} -o ${OUT} -n sample-tool -s 1 -v 9.8.7 -d "does sample things" -- false
  RESULT_VARIABLE result ERROR_QUIET)
if(result EQUAL 0 OR EXISTS ${OUT})
  message(FATAL_ERROR "help-to-man.sh made a page from a command that failed")
endif()
