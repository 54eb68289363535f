# Installs the build into a temporary prefix, then builds and runs consumers
# against it: through find_package (BRRDecode, and the in-memory C API
# against the installed tool), through pkg-config, and the installed Python
# module under the Debian interpreter.
# Run with -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... [-DPKG_CONFIG=...] [-DPYTHON=...]
cmake_policy(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/run_helpers.cmake)

function(check_wav path)
    file(SIZE ${path} size)
    if(NOT size EQUAL 16044)
        message(FATAL_ERROR "${path} holds ${size} bytes, expected 16044")
    endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(expected include/VornishAudioBRRDecoder.h include/VornishAudioBRR.h include/VornishAudioBRRFile.h include/VornishAudioBRRStatus.h
        bin/brrdecode share/man/man1/brrdecode.1.gz share/man/man3/vornish-brr.3.gz
        share/bash-completion/completions/brrscan share/zsh/vendor-completions/_vornish-brr)
    if(NOT EXISTS ${prefix}/${expected})
        message(FATAL_ERROR "install lacks ${expected}")
    endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${CC})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer ${SOURCE_DIR}/examples/tone.brr ${WORK_DIR}/cmake.wav)
check_wav(${WORK_DIR}/cmake.wav)
if(EXISTS ${prefix}/include/VornishAudioBRRShape.h)
    run(${WORK_DIR}/build/shape_consumer)
endif()
run(${CMAKE_COMMAND} -DTOOL=${prefix}/bin/brrdecode -DCONSUMER=${WORK_DIR}/build/memory_consumer
    -DSAMPLE=${SOURCE_DIR}/examples/loop.brr -DWORK_DIR=${WORK_DIR}/memory
    -P ${SOURCE_DIR}/tests/run_c_api_consumer.cmake)

if(PYTHON)
    # A prefix on no sys.path: the package goes to its platform library folder.
    execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/python/install_dir.py ${prefix}
                    OUTPUT_VARIABLE packages OUTPUT_STRIP_TRAILING_WHITESPACE)
    foreach(file __init__.py py.typed _engine.pyi)
        if(NOT EXISTS ${packages}/vornish_brr/${file})
            message(FATAL_ERROR "install lacks ${packages}/vornish_brr/${file}")
        endif()
    endforeach()
    set(ENV{PYTHONPATH} ${packages})
    run(${PYTHON} -c "import sys, vornish_brr as v; wav = v.convert(open(sys.argv[1], 'rb').read()); \
sys.exit(0 if len(wav) == 16044 and v.__file__.startswith(sys.argv[2]) else 1)"
        ${SOURCE_DIR}/examples/tone.brr ${prefix})
    unset(ENV{PYTHONPATH})
    # Under /usr/local (staged with DESTDIR), the package lands in a folder
    # on the interpreter's own sys.path: it imports with no PYTHONPATH.
    set(ENV{DESTDIR} ${WORK_DIR}/root)
    run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr/local --component Python)
    unset(ENV{DESTDIR})
    run(${PYTHON} -c "import os, sys; sys.exit(0 if any(os.path.isfile(sys.argv[1] + p + '/vornish_brr/__init__.py') \
for p in sys.path if p.startswith('/usr/local/')) else 1)" ${WORK_DIR}/root)
endif()

if(PKG_CONFIG)
    file(GLOB_RECURSE pc_files ${prefix}/VornishAudioBRRDecoder.pc)
    list(GET pc_files 0 pc_file)
    get_filename_component(pc_dir ${pc_file} DIRECTORY)
    set(ENV{PKG_CONFIG_PATH} ${pc_dir})
    execute_process(COMMAND ${PKG_CONFIG} --cflags --libs VornishAudioBRRDecoder
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "pkg-config does not find VornishAudioBRRDecoder")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    run(${CC} -std=c99 ${SOURCE_DIR}/tests/c_consumer.c ${flags} -o ${WORK_DIR}/pc_consumer)
    get_filename_component(lib_dir ${pc_dir} DIRECTORY)
    set(ENV{LD_LIBRARY_PATH} ${lib_dir})
    run(${WORK_DIR}/pc_consumer ${SOURCE_DIR}/examples/tone.brr ${WORK_DIR}/pc.wav)
    check_wav(${WORK_DIR}/pc.wav)
    if(EXISTS ${prefix}/include/VornishAudioBRRShape.h)
        execute_process(COMMAND ${PKG_CONFIG} --cflags --libs VornishAudioBRRShape
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "pkg-config does not find VornishAudioBRRShape")
        endif()
        separate_arguments(flags UNIX_COMMAND "${flags}")
        run(${CC} -std=c99 ${SOURCE_DIR}/tests/c_shape_consumer.c ${flags} -lm -o ${WORK_DIR}/pc_shape_consumer)
        run(${WORK_DIR}/pc_shape_consumer)
    endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
