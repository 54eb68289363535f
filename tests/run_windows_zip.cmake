# cpack -G ZIP in the windows-x64 build: one folder with the programs, the
# DLL, the headers, the manual pages as text and the LICENSE.
# Run with -DBUILD_DIR=... -DWORK_DIR=... [-DENCODER=1: brrencode.exe too]
# [-DPAGE=1: the page in web/ too]
cmake_policy(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/run_helpers.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
run(cpack --config ${BUILD_DIR}/CPackConfig.cmake -G ZIP -B ${WORK_DIR})
file(GLOB zip ${WORK_DIR}/*-windows-x64.zip)
run(${CMAKE_COMMAND} -E tar tf ${zip})
set(encoder)
if(ENCODER)
    set(encoder bin/brrencode.exe)
endif()
if(PAGE)
    list(APPEND encoder web/index.html web/engine.js web/engine.wasm web/worker.js)
endif()
foreach(file ${encoder} bin/brrdecode.exe bin/brrscan.exe bin/brrinsert.exe bin/VornishAudioBRRDecoder.dll include/VornishAudioBRR.h
        include/VornishAudioBRRFile.h include/VornishAudioBRRStatus.h include/VornishAudioBRRDecoder.h doc/brrdecode.1.txt doc/brrscan.1.txt
        doc/vornish-brr.3.txt doc/brrencode.1.txt doc/brrinsert.1.txt LICENSE)
    if(NOT out MATCHES "-windows-x64/${file}\n")
        message(FATAL_ERROR "the ZIP lacks ${file}:\n${out}")
    endif()
endforeach()
