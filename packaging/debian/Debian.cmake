# The Debian package of veltrane-cli, the far end for a server.
set(doc share/doc/veltrane-cli)
install(TARGETS veltrane-cli RUNTIME DESTINATION bin)

# The copyright file in Debian's machine-readable format, its licence text taken from LICENSE
# (Debian calls the MIT licence "Expat").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${license}")
set(VELTRANE_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*\n(Permission )" "\\1" license_text "${license}")
string(STRIP "${license_text}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " VELTRANE_LICENSE_TEXT " ${license_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in changelog @ONLY)

# The man page, from the program's own --help and --version; without help2man the package
# goes without one.
find_program(VELTRANE_HELP2MAN help2man)
if(VELTRANE_HELP2MAN)
    set(manpage ${CMAKE_CURRENT_BINARY_DIR}/veltrane-cli.1.gz)
    add_custom_command(OUTPUT ${manpage}
                       COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/make_manpage.sh $<TARGET_FILE:veltrane-cli>
                               ${CMAKE_CURRENT_LIST_DIR}/veltrane-cli.h2m ${manpage}
                       DEPENDS veltrane-cli ${CMAKE_CURRENT_LIST_DIR}/make_manpage.sh
                               ${CMAKE_CURRENT_LIST_DIR}/veltrane-cli.h2m
                       VERBATIM)
    add_custom_target(veltrane-cli-manpage ALL DEPENDS ${manpage})
    install(FILES ${manpage} DESTINATION share/man/man1)
else()
    message(STATUS "help2man not found: the Debian package will have no man page")
endif()
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${changelog}
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
                   VERBATIM)
add_custom_target(veltrane-cli-changelog ALL DEPENDS ${changelog})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_BINARY_DIR}/copyright ${changelog}
        DESTINATION ${doc})

# The drop-in folders of the header of packaging/CMakeLists.txt.
file(GLOB units CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/systemd/*.service
     ${PROJECT_SOURCE_DIR}/packaging/systemd/*.socket ${PROJECT_SOURCE_DIR}/packaging/systemd/*.timer)
if(units)
    install(FILES ${units} DESTINATION lib/systemd/system)
endif()
file(GLOB examples CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/examples/*)
if(examples)
    install(FILES ${examples} DESTINATION ${doc}/examples)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_NAME veltrane-cli)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELTRANE_SITE}")
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "veltrane-cli is the command-line end of Veltrane. It sends groups of UDP test
packets to another host, or receives them there, and derives jitter, absolute
delay and packet loss from the counters the packets carry, without clock
synchronisation between the hosts. It works with the Windows dialog program
Veltrane.exe in either direction and reports as text or as JSON Lines.")
# The runtime libraries (libssl3 among them, for keyed test packets) come from dpkg-shlibdeps,
# which reads what the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
