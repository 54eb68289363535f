# libsndfile and libsoxr for brrencode.exe, built for MinGW-w64 from Debian's
# source packages (cmake/fetch-audio-sources unpacks them into
# VORNISH_AUDIO_SOURCES) and linked statically. libsndfile is built without
# its external codecs (FLAC, Ogg, Vorbis, Opus, MPEG), so the program reads
# the formats libsndfile implements itself. Defines the targets
# vornish_sndfile and vornish_soxr, and VORNISH_WINDOWS_AUDIO when they exist.
include(ExternalProject)
set(VORNISH_AUDIO_SOURCES ${PROJECT_SOURCE_DIR}/build/audio-sources CACHE PATH
    "Where apt-get source unpacked libsndfile and libsoxr (cmake/fetch-audio-sources)")
file(GLOB vornish_sndfile_source LIST_DIRECTORIES true ${VORNISH_AUDIO_SOURCES}/libsndfile-[0-9]*)
file(GLOB vornish_soxr_source LIST_DIRECTORIES true ${VORNISH_AUDIO_SOURCES}/libsoxr-[0-9]*)
if(NOT EXISTS "${vornish_sndfile_source}/CMakeLists.txt" OR NOT EXISTS "${vornish_soxr_source}/CMakeLists.txt")
    message(STATUS "brrencode.exe skipped: no libsndfile and libsoxr sources in ${VORNISH_AUDIO_SOURCES} "
                   "(cmake/fetch-audio-sources puts them there)")
    return()
endif()

set(vornish_audio_prefix ${PROJECT_BINARY_DIR}/audio-libs)
set(vornish_audio_args
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${vornish_audio_prefix}
    -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF)
ExternalProject_Add(sndfile_windows
    SOURCE_DIR ${vornish_sndfile_source}
    CMAKE_ARGS ${vornish_audio_args} -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF
               -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_MANPAGES=OFF
    BUILD_BYPRODUCTS ${vornish_audio_prefix}/lib/libsndfile.a
    LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
ExternalProject_Add(soxr_windows
    SOURCE_DIR ${vornish_soxr_source}
    CMAKE_ARGS ${vornish_audio_args} -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
    BUILD_BYPRODUCTS ${vornish_audio_prefix}/lib/libsoxr.a
    LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

file(MAKE_DIRECTORY ${vornish_audio_prefix}/include)
foreach(library sndfile soxr)
    add_library(vornish_${library} STATIC IMPORTED)
    set_target_properties(vornish_${library} PROPERTIES
        IMPORTED_LOCATION ${vornish_audio_prefix}/lib/lib${library}.a
        INTERFACE_INCLUDE_DIRECTORIES ${vornish_audio_prefix}/include)
    add_dependencies(vornish_${library} ${library}_windows)
endforeach()
set(VORNISH_WINDOWS_AUDIO ON)
