# brrdecode.exe, brrscan.exe and brrencode.exe under wine: the same bytes and
# lines as the Linux tools on the examples with each option set, '-' for
# standard input and output, a path beyond the code page, and no file
# replaced without -f.
# Run with -DEMULATOR=... -DBRRDECODE=... -DBRRSCAN=... -DSOURCE_DIR=... -DWORK_DIR=... -DOBJDUMP=...
#          [-DBRRENCODE=...] [-DLINUX_TOOLS=dir]
cmake_policy(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/run_helpers.cmake)
set(ENV{WINEDEBUG} -all)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(COPY ${SOURCE_DIR}/examples/tone.brr ${SOURCE_DIR}/examples/loop.brr DESTINATION ${WORK_DIR})
# Each program imports only the system's DLLs, as the library DLL does.
foreach(program ${BRRDECODE} ${BRRSCAN} ${BRRENCODE})
    run(${OBJDUMP} -p ${program})
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${out}")
    list(REMOVE_ITEM imports "DLL Name: KERNEL32.dll" "DLL Name: msvcrt.dll")
    if(imports)
        message(FATAL_ERROR "${program} imports ${imports}")
    endif()
endforeach()
if(LINUX_TOOLS AND NOT EXISTS ${LINUX_TOOLS}/brrdecode)
    message(STATUS "no Linux tools in ${LINUX_TOOLS} (the default preset builds them): bytes not compared")
    unset(LINUX_TOOLS)
endif()

# Runs a tool both ways in WORK_DIR and compares exit status, lines and the
# file written.
function(same tool output)
    execute_process(COMMAND ${EMULATOR} ${${tool}} ${ARGN} WORKING_DIRECTORY ${WORK_DIR}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(output)
        file(RENAME ${WORK_DIR}/${output} ${WORK_DIR}/windows.out)
    endif()
    if(NOT LINUX_TOOLS)
        return()
    endif()
    string(TOLOWER ${tool} name)
    execute_process(COMMAND ${LINUX_TOOLS}/${name} ${ARGN} WORKING_DIRECTORY ${WORK_DIR}
                    RESULT_VARIABLE linuxStatus OUTPUT_VARIABLE linuxOut ERROR_VARIABLE linuxErr)
    string(REPLACE ".exe" "" err "${err}")
    if(NOT status EQUAL linuxStatus OR NOT out STREQUAL linuxOut OR NOT err STREQUAL linuxErr)
        message(FATAL_ERROR "${name} ${ARGN}: ${status} against ${linuxStatus}\n${out}${err}\n--- Linux:\n${linuxOut}${linuxErr}")
    endif()
    if(output)
        file(SHA256 ${WORK_DIR}/windows.out windows)
        file(SHA256 ${WORK_DIR}/${output} linux)
        if(NOT windows STREQUAL linux)
            message(FATAL_ERROR "${name} ${ARGN}: ${output} differs from the Linux tool's")
        endif()
        file(REMOVE ${WORK_DIR}/${output} ${WORK_DIR}/windows.out)
    endif()
endfunction()

foreach(options "" "--loops;3" "--loops;4;--rules;library" "--play;0x1234;--loops;2" "--stop-at-end;--no-smpl"
                "--no-header" "--pitch;0x0B06;--loop-start;2" "--root-note;A#3;--loops;2")
    foreach(sample tone loop)
        same(BRRDECODE ${sample}.wav -f ${options} ${sample}.brr)
    endforeach()
endforeach()
same(BRRDECODE "" --loops 0 tone.brr)
same(BRRDECODE "" missing.brr)

# Standard input and output, in binary mode: `tool - < input > piped` gives
# the bytes of `tool input -o named`.
function(pipes_as_files tool input extension)
    execute_process(COMMAND ${EMULATOR} ${tool} - INPUT_FILE ${WORK_DIR}/${input} OUTPUT_FILE ${WORK_DIR}/piped.${extension}
                    ERROR_VARIABLE lines RESULT_VARIABLE status WORKING_DIRECTORY ${WORK_DIR})
    run(${EMULATOR} ${tool} -q -f ${WORK_DIR}/${input} -o ${WORK_DIR}/named.${extension})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/piped.${extension}
                            ${WORK_DIR}/named.${extension} RESULT_VARIABLE differs)
    if(NOT status EQUAL 0 OR differs OR NOT lines MATCHES "Done !")
        message(FATAL_ERROR "${tool} - < ${input} > piped.${extension}: ${status}\n${lines}")
    endif()
endfunction()
pipes_as_files(${BRRDECODE} loop.brr wav)

# A name beyond any one code page.
file(COPY_FILE ${WORK_DIR}/tone.brr "${WORK_DIR}/tön€λ.brr")
run(${EMULATOR} ${BRRDECODE} -q "${WORK_DIR}/tön€λ.brr")
if(NOT EXISTS "${WORK_DIR}/tön€λ.wav")
    message(FATAL_ERROR "brrdecode.exe wrote no tön€λ.wav")
endif()

# No clobbering: the file stays as it was.
file(WRITE ${WORK_DIR}/kept.wav "keep")
execute_process(COMMAND ${EMULATOR} ${BRRDECODE} -o kept.wav tone.brr WORKING_DIRECTORY ${WORK_DIR}
                RESULT_VARIABLE status ERROR_VARIABLE err)
file(READ ${WORK_DIR}/kept.wav kept)
if(NOT status EQUAL 1 OR NOT kept STREQUAL "keep" OR NOT err MATCHES "kept.wav: file exists \\(use -f to overwrite\\)")
    message(FATAL_ERROR "brrdecode.exe replaced kept.wav: ${status} ${err}")
endif()

# brrscan on an image of both examples behind other bytes, and extracting it.
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${BRRSCAN} ${WORK_DIR}/loop.brr ${WORK_DIR}/tone.brr
                OUTPUT_FILE ${WORK_DIR}/image.bin)
same(BRRSCAN "" image.bin)
same(BRRSCAN "" --json --min-score 0.2 image.bin)
file(MAKE_DIRECTORY ${WORK_DIR}/x)
run(${EMULATOR} ${BRRSCAN} -q -x ${WORK_DIR}/x --wav ${WORK_DIR}/image.bin)
execute_process(COMMAND ${EMULATOR} ${BRRSCAN} -q -x x image.bin WORKING_DIRECTORY ${WORK_DIR}
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT err MATCHES "file exists")
    message(FATAL_ERROR "brrscan.exe -x replaced its files: ${status} ${err}")
endif()

# brrencode.exe on the examples decoded to WAV (and AIFF, through -), with
# libsndfile and libsoxr built for Windows: the Linux tool's very blocks.
if(NOT BRRENCODE)
    return()
endif()
run(${EMULATOR} ${BRRDECODE} -q -f --loops 3 ${WORK_DIR}/loop.brr -o ${WORK_DIR}/loop.wav)
run(${EMULATOR} ${BRRDECODE} -q -f --rate 22050 ${WORK_DIR}/tone.brr -o ${WORK_DIR}/tone.wav)
foreach(options "" "--rate;16000" "--loop;16:144;--loop-fit;repeat" "--loop;16:150" "--effort;best;--treble-boost"
                "--no-loop-header;--rules;library")
    foreach(sample tone loop)
        same(BRRENCODE encoded.brr -f -o encoded.brr ${options} ${sample}.wav)
    endforeach()
endforeach()
same(BRRENCODE "" --channel 2 tone.wav)
pipes_as_files(${BRRENCODE} tone.wav brr)
# Formats this build lacks are named, and nothing is replaced unasked.
file(WRITE ${WORK_DIR}/song.flac "fLaC and what follows")
file(WRITE ${WORK_DIR}/kept.brr "keep")
foreach(case "song.flac|is FLAC audio, which this Windows build does not read"
             "-o;kept.brr;tone.wav|kept.brr: file exists \\(use -f to overwrite\\)")
    string(REPLACE "|" ";" case "${case}")
    list(POP_BACK case message)
    execute_process(COMMAND ${EMULATOR} ${BRRENCODE} ${case} WORKING_DIRECTORY ${WORK_DIR}
                    RESULT_VARIABLE status ERROR_VARIABLE err)
    file(READ ${WORK_DIR}/kept.brr kept)
    if(NOT status EQUAL 1 OR NOT kept STREQUAL "keep" OR NOT err MATCHES "${message}")
        message(FATAL_ERROR "brrencode.exe ${case}: ${status} ${err}")
    endif()
endforeach()
