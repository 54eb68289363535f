# What every Debian package of the project carries, as Debian places it:
# usr/share/doc/PACKAGE/copyright (the MIT LICENSE) and changelog.Debian.gz,
# signed by CPACK_PACKAGE_CONTACT.
find_program(VORNISH_GZIP gzip)
function(vornish_debian_docs package component)
    set(changelog ${PROJECT_BINARY_DIR}/debian-changelog/${package})
    file(WRITE ${changelog}
         "${package} (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
         "  * Release ${PROJECT_VERSION}.\n\n"
         " -- ${CPACK_PACKAGE_CONTACT}  Tue, 08 Dec 2026 00:00:00 +0000\n")
    if(VORNISH_GZIP)
        execute_process(COMMAND ${VORNISH_GZIP} -9nf ${changelog})
        install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
                RENAME changelog.Debian.gz COMPONENT ${component})
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
            RENAME copyright COMPONENT ${component})
endfunction()
