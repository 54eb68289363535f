# The wasm preset (Debian's emscripten): the core library and the shaping
# library compiled to WebAssembly as one engine module, libsoxr built for it
# from Debian's source package (cmake/fetch-audio-sources unpacks it into
# VORNISH_AUDIO_SOURCES), and the page's static files, all into
# build/wasm/web. Debian's emscripten runs its JavaScript tools with Debian's
# Node.js modules: another Node.js needs NODE_PATH=/usr/share/nodejs.
include(ExternalProject)
set(VORNISH_AUDIO_SOURCES ${PROJECT_SOURCE_DIR}/build/audio-sources CACHE PATH
    "Where apt-get source unpacked libsndfile and libsoxr (cmake/fetch-audio-sources)")
file(GLOB vornish_sndfile_source LIST_DIRECTORIES true ${VORNISH_AUDIO_SOURCES}/libsndfile-[0-9]*)
file(GLOB vornish_soxr_source LIST_DIRECTORIES true ${VORNISH_AUDIO_SOURCES}/libsoxr-[0-9]*)
if(NOT EXISTS "${vornish_sndfile_source}/CMakeLists.txt" OR NOT EXISTS "${vornish_soxr_source}/CMakeLists.txt")
    message(FATAL_ERROR "No libsndfile and libsoxr sources in ${VORNISH_AUDIO_SOURCES}: run cmake/fetch-audio-sources")
endif()
set(vornish_web ${PROJECT_BINARY_DIR}/web)
set(vornish_audio_prefix ${PROJECT_BINARY_DIR}/audio-libs)
set(vornish_audio_args
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${vornish_audio_prefix}
    -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF)
# libsndfile with the formats it implements itself (WAV, AIFF and others;
# the browser decodes the rest), as in the Windows build.
ExternalProject_Add(sndfile_wasm
    SOURCE_DIR ${vornish_sndfile_source}
    CMAKE_ARGS ${vornish_audio_args} -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF
               -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_MANPAGES=OFF -DENABLE_SQLITE=OFF
               -DENABLE_ALSA=OFF
    BUILD_BYPRODUCTS ${vornish_audio_prefix}/lib/libsndfile.a
    LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
# Plain C: no SIMD, no OpenMP, no threads in the page's engine.
ExternalProject_Add(soxr_wasm
    SOURCE_DIR ${vornish_soxr_source}
    CMAKE_ARGS ${vornish_audio_args} -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
               -DWITH_CR32S=OFF -DWITH_CR64S=OFF -DWITH_HI_PREC_CLOCK=OFF
    BUILD_BYPRODUCTS ${vornish_audio_prefix}/lib/libsoxr.a
    LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
file(MAKE_DIRECTORY ${vornish_audio_prefix}/include)
foreach(library sndfile soxr)
    add_library(vornish_${library} STATIC IMPORTED)
    set_target_properties(vornish_${library} PROPERTIES IMPORTED_LOCATION ${vornish_audio_prefix}/lib/lib${library}.a
        INTERFACE_INCLUDE_DIRECTORIES ${vornish_audio_prefix}/include)
    add_dependencies(vornish_${library} ${library}_wasm)
endforeach()

# WebAssembly's 128-bit SIMD, which every current browser runs: the scan
# takes half the time with it.
target_compile_options(brr_core PRIVATE -msimd128)

add_library(brr_shape OBJECT ${vornish_shape_sources})
target_compile_options(brr_shape PRIVATE -msimd128)
target_include_directories(brr_shape PUBLIC ${PROJECT_SOURCE_DIR}/include PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(brr_shape PUBLIC vornish_soxr)
vornish_warnings(brr_shape)

# The engine: the C API as the page calls it (ccall), as an ES module.
set(vornish_exports BRRStatusText BRRScanOptionsInit BRRConvertOptionsInitTool BRRDecodedSize BRRDecodeToPCM
    BRRPlanMemory BRRConvertMemory BRREncodeOptionsInit BRREncode BRRLoopSeam BRRIsDump BRRReadDump
    BRRInsertOptionsInit BRRInsert BRRInterpolationTable BRRToMono BRRShapeOptionsInit BRRShapePlanOf BRRShape
    BRRFindLoop VornishScanAll VornishFoundSize VornishConvert VornishDecode VornishReadAudio VornishEncode
    VornishInsert
    BRREffortByName BRRRulesByName malloc free)
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
