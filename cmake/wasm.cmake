# The wasm preset (Debian's emscripten): the core library and the shaping
# library compiled to WebAssembly as one engine module with libsndfile and
# libsoxr (built from Debian's sources, cmake/audio_sources.cmake), and the
# page's static files, all into build/wasm/web. Debian's emscripten runs its
# JavaScript tools with Debian's Node.js modules: another Node.js needs
# NODE_PATH=/usr/share/nodejs.
if(NOT vornish_audio_sources_found)
    message(FATAL_ERROR "No libsndfile and libsoxr sources in ${VORNISH_AUDIO_SOURCES}: run cmake/fetch-audio-sources")
endif()
set(vornish_web ${PROJECT_BINARY_DIR}/web)

# WebAssembly's 128-bit SIMD, which every current browser runs: the scan
# takes half the time with it.
target_compile_options(brr_core PRIVATE -msimd128)
target_compile_options(brr_shape PRIVATE -msimd128)

# The engine: the C API as the page calls it (ccall), as an ES module.
set(vornish_exports BRRStatusText BRRScanOptionsInit BRRConvertOptionsInitTool BRRDecodedSize BRRDecodeToPCM
    BRRPlanMemory BRRConvertMemory BRREncodeOptionsInit BRREncode BRRLoopSeam BRRIsDump BRRReadDump
    BRRInsertOptionsInit BRRInsert BRRInterpolationTable BRRToMono BRRShapeOptionsInit BRRShapePlanOf BRRShape
    BRRShapeRateForBytes BRRFindLoop VornishScanAll VornishFoundSize VornishConvert VornishDecode VornishReadAudio
    VornishEncode VornishInsert BRREffortByName BRRRulesByName malloc free)
list(TRANSFORM vornish_exports PREPEND "'_")
list(TRANSFORM vornish_exports APPEND "'")
list(JOIN vornish_exports "," vornish_export_list)
add_executable(vornish_engine web/engine/glue.cpp web/engine/audio.cpp web/engine/encode.cpp)
target_link_libraries(vornish_engine PRIVATE brr_core brr_shape vornish_sndfile)
vornish_warnings(vornish_engine)
set_target_properties(vornish_engine PROPERTIES OUTPUT_NAME engine SUFFIX ".js"
    RUNTIME_OUTPUT_DIRECTORY ${vornish_web})
target_link_options(vornish_engine PRIVATE -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createEngine
    -sENVIRONMENT=web,worker -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB -sFILESYSTEM=0
    # libsoxr calls functions through pointers of other types, which WebAssembly traps.
    -sEMULATE_FUNCTION_POINTER_CASTS=1
    "-sEXPORTED_FUNCTIONS=[${vornish_export_list}]" "-sEXPORTED_RUNTIME_METHODS=['ccall','cwrap','HEAPU8','UTF8ToString']")

# The page's static files beside the engine.
file(GLOB vornish_page_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/page/*)
foreach(page_file IN LISTS vornish_page_files)
    get_filename_component(name ${page_file} NAME)
    configure_file(${page_file} ${vornish_web}/${name} COPYONLY)
endforeach()

# The page in Debian's chromium, against the default build's brrscan
# (tests/web: npm ci installs the pinned playwright-core).
enable_testing()
set(VORNISH_LINUX_TOOLS ${PROJECT_SOURCE_DIR}/build/default/bin CACHE PATH
    "The Linux tools whose results the page must give")
find_program(VORNISH_NODE node)
add_test(NAME page_scans_as_brrscan
    COMMAND ${VORNISH_NODE} ${PROJECT_SOURCE_DIR}/tests/web/page_test.mjs ${vornish_web}
            ${VORNISH_LINUX_TOOLS} ${PROJECT_BINARY_DIR}/page_test)
set_tests_properties(page_scans_as_brrscan PROPERTIES TIMEOUT 300)

# cmake --install puts the page under share/vornish-brr/web; cpack -G DEB
# makes it an architecture-independent package of its own, vornish-brr-web.
include(GNUInstallDirs)
install(DIRECTORY ${vornish_web}/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/vornish-brr/web COMPONENT Web)
set(vornish_web_package vornish-brr-web)
set(CPACK_PACKAGE_CONTACT "The VornishAudioBRRDecoder developers <packages@vornishaudio.org>")
include(${PROJECT_SOURCE_DIR}/cmake/debian_docs.cmake)
vornish_debian_docs(${vornish_web_package} Web)
set(CPACK_PACKAGE_NAME ${vornish_web_package})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "BRR sample page: find, see, hear, encode and put back in a browser")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "BRR samples are files of 9-byte blocks, each a header byte and sixteen\n"
    "4-bit codes. This package holds a page that runs the engine in\n"
    "WebAssembly: serve /usr/share/vornish-brr/web with any static web server.\n"
    "The page makes no network request.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Web)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_WEB_PACKAGE_NAME ${vornish_web_package})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_GENERATOR DEB)
include(CPack)
add_test(NAME page_installs_and_packages
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DWORK_DIR=${PROJECT_BINARY_DIR}/page_package
            -P ${PROJECT_SOURCE_DIR}/tests/run_page_package.cmake)
