# Debian packages (cpack -G DEB after the default build), split as Debian
# splits libsndfile: the shared library with its SONAME, -dev, the tools,
# the Python module. Each carries the MIT copyright and a changelog, and
# its shared-library dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME vornish-brr)
set(CPACK_PACKAGE_VENDOR "The VornishAudioBRRDecoder developers")
set(CPACK_PACKAGE_CONTACT "The VornishAudioBRRDecoder developers <packages@vornishaudio.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "decode, encode and find BRR samples, bit-exactly")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)

set(vornish_lib_package libvornishaudiobrrdecoder${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${vornish_lib_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvornishaudiobrrdecoder-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${vornish_lib_package} (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vornish-brr-tools)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vornish-brr)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
set(vornish_describe "\n BRR samples are files of 9-byte blocks, each a header byte and sixteen\n 4-bit codes.")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "BRR sample engine - shared library${vornish_describe}\n This package holds the engine's shared library and the shaping library\n (resampling, loop fitting and finding, for the encoder).")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "BRR sample engine - development files${vornish_describe}\n This package holds the headers (the engine's and the shaping library's),\n the CMake package, the pkg-config files and vornish-brr(3).")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "BRR sample tools: brrdecode, brrencode, brrscan and brrinsert${vornish_describe}\n The tools convert them to WAV, encode audio files, find them in images and put them back.")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "BRR sample engine - Python 3 module${vornish_describe}\n This package holds the vornish_brr module.")

# The library package tells the dynamic linker's cache to update.
file(WRITE ${PROJECT_BINARY_DIR}/debian-runtime/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian-runtime/triggers)

# The windows-x64 ZIP (cpack -G ZIP there): the programs, the DLL, the
# headers, the manual pages as text and the LICENSE, in one folder.
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGING_INSTALL_PREFIX "")
    set(CPACK_PACKAGE_FILE_NAME VornishAudioBRRDecoder-${PROJECT_VERSION}-windows-x64)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT Runtime)
    # The page, as the wasm preset built it (WebAssembly runs anywhere).
    if(EXISTS ${VORNISH_PAGE_DIR}/engine.wasm)
        install(DIRECTORY ${VORNISH_PAGE_DIR}/ DESTINATION web COMPONENT Runtime)
    else()
        message(STATUS "The ZIP carries no page: build the wasm preset first")
    endif()
    include(CPack)
    return()
endif()

# Each package's copyright and changelog, as Debian places them.
include(${CMAKE_CURRENT_LIST_DIR}/debian_docs.cmake)
foreach(component Runtime Development Tools Python)
    string(TOUPPER ${component} upper)
    if(upper STREQUAL "RUNTIME")
        vornish_debian_docs(${vornish_lib_package} ${component})
    else()
        vornish_debian_docs(${CPACK_DEBIAN_${upper}_PACKAGE_NAME} ${component})
    endif()
endforeach()
include(CPack)
