# cmake -DSCDOC=... -DIN=page.scd -DOUT=page.1 -P RunScdoc.cmake: scdoc reads
# standard input and writes standard output, which add_custom_command cannot redirect.
execute_process(COMMAND ${SCDOC} INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "scdoc failed on ${IN}")
endif()
