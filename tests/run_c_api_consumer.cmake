# Runs the in-memory C consumer against the WAV brrdecode writes for the same
# sample, in an empty folder: it must succeed, print nothing (nor may the
# library) and create no file.
# Run with -DTOOL=... -DCONSUMER=... -DSAMPLE=... -DWORK_DIR=... [-DEMULATOR=...]
cmake_policy(VERSION 3.21)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/empty)
execute_process(COMMAND ${EMULATOR} ${TOOL} -q --loops 3 --rate 32000 -o ${WORK_DIR}/expected.wav ${SAMPLE}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "brrdecode failed (${result})")
endif()
execute_process(COMMAND ${EMULATOR} ${CONSUMER} ${SAMPLE} ${WORK_DIR}/expected.wav
    WORKING_DIRECTORY ${WORK_DIR}/empty
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB created ${WORK_DIR}/empty/*)
if(NOT result EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL "" OR created)
    message(FATAL_ERROR "consumer: status ${result}, output [${out}], errors [${err}], files [${created}]")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
