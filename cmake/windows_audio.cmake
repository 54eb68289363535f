# libsndfile and libsoxr for brrencode.exe, built for MinGW-w64 from Debian's
# source packages (cmake/audio_sources.cmake) and linked statically: the
# program reads the formats libsndfile implements itself. Defines the
# targets vornish_sndfile and vornish_soxr, and VORNISH_WINDOWS_AUDIO when
# they exist.
include(${CMAKE_CURRENT_LIST_DIR}/audio_sources.cmake)
vornish_audio_from_sources(windows)
if(vornish_audio_sources_found)
    set(VORNISH_WINDOWS_AUDIO ON)
else()
    message(STATUS "brrencode.exe skipped: no libsndfile and libsoxr sources in ${VORNISH_AUDIO_SOURCES} "
                   "(cmake/fetch-audio-sources puts them there)")
endif()
