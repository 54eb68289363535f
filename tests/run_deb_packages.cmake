# cpack -G DEB from the build, then each package's metadata checked and its
# files unpacked into a throwaway root (dpkg -x): the tool, a C consumer
# built against the -dev package and the Python import run from there, and
# lintian reports no error.
# Run with -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... [-DPYTHON=...] [-DLINTIAN=...]
cmake_policy(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/run_helpers.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(root ${WORK_DIR}/root)
run(cpack --config ${BUILD_DIR}/CPackConfig.cmake -G DEB -B ${WORK_DIR}/debs)
set(expected libvornishaudiobrrdecoder1 libvornishaudiobrrdecoder-dev vornish-brr-tools)
if(PYTHON)
    list(APPEND expected python3-vornish-brr)
endif()
foreach(package IN LISTS expected)
    file(GLOB deb ${WORK_DIR}/debs/${package}_*.deb)
    if(NOT deb)
        message(FATAL_ERROR "cpack made no ${package}")
    endif()
    run(dpkg-deb -f ${deb} Package Version Architecture Depends)
    if(NOT out MATCHES "Package: ${package}\nVersion: [0-9.]+-1\nArchitecture: [a-z0-9]+\n")
        message(FATAL_ERROR "${package}: metadata\n${out}")
    endif()
    if(NOT package MATCHES "-dev$" AND NOT out MATCHES "Depends: .*libc6")
        message(FATAL_ERROR "${package}: no shared-library dependencies\n${out}")
    endif()
    run(dpkg-deb -c ${deb})
    if(NOT out MATCHES "usr/share/doc/${package}/copyright")
        message(FATAL_ERROR "${package} carries no copyright file")
    endif()
    run(dpkg -x ${deb} ${root})
endforeach()

run(${root}/usr/bin/brrdecode --version)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${root}/usr -DCMAKE_C_COMPILER=${CC})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
# The shaping library: its header and pkg-config file in -dev, the library
# beside the engine's.
if(EXISTS ${WORK_DIR}/consumer/shape_consumer)
    file(GLOB_RECURSE shape_pc ${root}/usr/lib/*/VornishAudioBRRShape.pc)
    if(NOT EXISTS ${root}/usr/include/VornishAudioBRRShape.h OR NOT shape_pc)
        message(FATAL_ERROR "libvornishaudiobrrdecoder-dev lacks the shaping library's header or .pc")
    endif()
    run(${WORK_DIR}/consumer/shape_consumer)
endif()
run(${CMAKE_COMMAND} -DTOOL=${root}/usr/bin/brrdecode -DCONSUMER=${WORK_DIR}/consumer/memory_consumer
    -DSAMPLE=${SOURCE_DIR}/examples/loop.brr -DWORK_DIR=${WORK_DIR}/memory
    -P ${SOURCE_DIR}/tests/run_c_api_consumer.cmake)
if(PYTHON)
    set(ENV{PYTHONPATH} ${root}/usr/lib/python3/dist-packages)
    run(${PYTHON} -c "import sys, vornish_brr; sys.exit(0 if vornish_brr.__file__.startswith(sys.argv[1]) else 1)"
        ${root})
    unset(ENV{PYTHONPATH})
endif()
if(LINTIAN)
    file(GLOB debs ${WORK_DIR}/debs/*.deb)
    run(${LINTIAN} --fail-on error ${debs})
else()
    message(STATUS "lintian not run: apt-get install lintian")
endif()
