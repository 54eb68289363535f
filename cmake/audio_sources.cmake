# libsndfile and libsoxr built from Debian's source packages for a platform
# that has no packages of its own (Windows, WebAssembly), with the project's
# toolchain, and linked statically. cmake/fetch-audio-sources unpacks the
# sources into VORNISH_AUDIO_SOURCES.
#
#   vornish_audio_from_sources(PLATFORM SNDFILE arg... SOXR arg...)
#
# defines the targets vornish_sndfile and vornish_soxr and sets
# vornish_audio_sources_found; without the sources it sets that false and
# defines nothing.
include(ExternalProject)
set(VORNISH_AUDIO_SOURCES ${PROJECT_SOURCE_DIR}/build/audio-sources CACHE PATH
    "Where apt-get source unpacked libsndfile and libsoxr (cmake/fetch-audio-sources)")

function(vornish_audio_from_sources platform)
    cmake_parse_arguments(PARSE_ARGV 1 extra "" "" "SNDFILE;SOXR")
    file(GLOB sndfile_source LIST_DIRECTORIES true ${VORNISH_AUDIO_SOURCES}/libsndfile-[0-9]*)
    file(GLOB soxr_source LIST_DIRECTORIES true ${VORNISH_AUDIO_SOURCES}/libsoxr-[0-9]*)
    if(NOT EXISTS "${sndfile_source}/CMakeLists.txt" OR NOT EXISTS "${soxr_source}/CMakeLists.txt")
        set(vornish_audio_sources_found FALSE PARENT_SCOPE)
        return()
    endif()
    set(prefix ${PROJECT_BINARY_DIR}/audio-libs)
    set(common
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${prefix}
        -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF)
    # libsndfile without its external codecs (FLAC, Ogg, Vorbis, Opus, MPEG):
    # the formats it implements itself.
    ExternalProject_Add(sndfile_${platform}
        SOURCE_DIR ${sndfile_source}
        CMAKE_ARGS ${common} -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF
                   -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_MANPAGES=OFF ${extra_SNDFILE}
        BUILD_BYPRODUCTS ${prefix}/lib/libsndfile.a
        LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
    ExternalProject_Add(soxr_${platform}
        SOURCE_DIR ${soxr_source}
        CMAKE_ARGS ${common} -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF ${extra_SOXR}
        BUILD_BYPRODUCTS ${prefix}/lib/libsoxr.a
        LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
    file(MAKE_DIRECTORY ${prefix}/include)
    foreach(library sndfile soxr)
        add_library(vornish_${library} STATIC IMPORTED GLOBAL)
        set_target_properties(vornish_${library} PROPERTIES
            IMPORTED_LOCATION ${prefix}/lib/lib${library}.a
            INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include)
        add_dependencies(vornish_${library} ${library}_${platform})
    endforeach()
    set(vornish_audio_sources_found TRUE PARENT_SCOPE)
endfunction()
