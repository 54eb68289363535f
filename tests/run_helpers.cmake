# What the install tests share: run(COMMAND...) fails the test with the
# command's output, and leaves its standard output in `out`.
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}\n${err}")
    endif()
    set(out "${output}" PARENT_SCOPE)
endfunction()
