# Installation layout and the Debian package.
#
# `cmake --install build` (prefix /usr/local unless CMAKE_INSTALL_PREFIX says otherwise) and the
# package (prefix /usr) put:
#   bin/ferrun, bin/ferrun-cli, bin/ferrun-board      the window, the headless front end and
#                                                      the board simulator
#   lib/ferrun/ferrun-plot.so                          the module of `ferrun-cli plot` (cli/)
#   lib/ferrun/ferrun-thumbnailer                      a recording's chart as its thumbnail
#   share/applications/ferrun.desktop                  the desktop menu entry, which opens
#                                                      recordings (*.kdx)
#   share/icons/hicolor/{scalable,NxN}/apps/ferrun.*   its icon
#   share/mime/packages/ferrun.xml                     the type of a recording,
#                                                      application/x-ferrun-kdx
#   share/thumbnailers/ferrun.thumbnailer              file managers' thumbnails of recordings
#   share/metainfo/org.ferrun.ferrun.metainfo.xml      the software centres' description
#   share/man/man1/ferrun*.1.gz                        the manual pages (FerrunManPages.cmake)
#   share/bash-completion/completions/ferrun-cli       completion of ferrun-cli's commands,
#                                                      options and files in bash
#   lib/udev/rules.d/70-ferrun-board.rules             access to the board for the seat's user
#   share/doc/ferrun/                                  README, copyright, changelog.gz, the
#                                                      help pages
# Benchmarks and tests are not installed. The help is compiled into the window's resources;
# the pages under share/doc/ferrun/help are a copy to read without the program. The MIME,
# desktop and icon caches are the system's business: dpkg's triggers renew them when the
# package is installed; after `cmake --install`, run update-mime-database and
# update-desktop-database on the prefix's share/mime and share/applications.
#
# `make package` (cpack) builds ferrun_<version>_<arch>.deb. dpkg-shlibdeps derives its
# Depends from the libraries the programs link (the Qt 6 libraries, libstdc++6, libc6...).
#
# Sanitizer builds have no window and no front end, so they install and package nothing.
if(FERRUN_SANITIZE)
    return()
endif()

include(GNUInstallDirs)

set(FERRUN_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
# Relative to the prefix: /usr/lib/udev/rules.d for the package, /usr/local/lib/udev/rules.d
# for a local install; udev reads both.
set(FERRUN_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING "Folder of the board's udev rule")
set(FERRUN_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/ferrun)
# The package's own program folder, also that of the plot module (FERRUN_PLOT_MODULE_DIR in
# cli/CMakeLists.txt).
set(FERRUN_LIBEXEC_DIR lib/ferrun)

# The project's web address, for the software centres (url, screenshot). No address is
# published yet: the default is a placeholder under the reserved .invalid domain, which no
# one can mistake for a real site; a release sets the real ones.
set(FERRUN_HOMEPAGE_URL "https://ferrun.invalid"
    CACHE STRING "Home page of the project (AppStream url)")
set(FERRUN_SCREENSHOT_URL "${FERRUN_HOMEPAGE_URL}/docs/screenshot.png"
    CACHE STRING "Published copy of docs/screenshot.png (AppStream screenshot)")

# The releases of the metainfo from packaging/changelog (the Debian changelog, newest first):
# each entry's version and the date of its trailer line.
set(FERRUN_CHANGELOG ${FERRUN_PACKAGING_DIR}/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FERRUN_CHANGELOG})
file(STRINGS ${FERRUN_CHANGELOG} changelog_lines REGEX "^(ferrun \\(| -- )")
set(FERRUN_METAINFO_RELEASES "")
set(changelog_version "")
set(changelog_first_version "")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^ferrun \\(([^)]+)\\)")
        set(changelog_version ${CMAKE_MATCH_1})
        if(NOT changelog_first_version)
            set(changelog_first_version ${changelog_version})
        endif()
    elseif(line MATCHES ", ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) " AND changelog_version)
        set(day ${CMAKE_MATCH_1})
        set(year ${CMAKE_MATCH_3})
        list(FIND months ${CMAKE_MATCH_2} month)
        math(EXPR month "${month} + 1")
        string(REGEX REPLACE "^([0-9])$" "0\\1" month ${month})
        string(REGEX REPLACE "^([0-9])$" "0\\1" day ${day})
        string(APPEND FERRUN_METAINFO_RELEASES
               "    <release version=\"${changelog_version}\" date=\"${year}-${month}-${day}\"/>\n")
        set(changelog_version "")
    endif()
endforeach()
string(REGEX REPLACE "\n$" "" FERRUN_METAINFO_RELEASES "${FERRUN_METAINFO_RELEASES}")
if(NOT changelog_first_version STREQUAL PROJECT_VERSION)
    message(WARNING "packaging/changelog begins with version '${changelog_first_version}', "
                    "the project is ${PROJECT_VERSION}: add an entry for it")
endif()
configure_file(${FERRUN_PACKAGING_DIR}/org.ferrun.ferrun.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/org.ferrun.ferrun.metainfo.xml @ONLY)
# Compressed without a name or a time stamp, as Debian wants it.
execute_process(COMMAND gzip -9n INPUT_FILE ${FERRUN_CHANGELOG}
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)

install(TARGETS ferrun ferrun-cli ferrun-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FERRUN_PACKAGING_DIR}/ferrun.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${FERRUN_PACKAGING_DIR}/ferrun-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages RENAME ferrun.xml)
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.ferrun.ferrun.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
# The thumbnailer file names its program by an absolute path (file managers look for it there,
# not on PATH), so it is written when installing, under the prefix installed to: /usr for the
# package (CPACK_SET_DESTDIR below keeps that prefix), /usr/local for `cmake --install`.
install(PROGRAMS ${FERRUN_PACKAGING_DIR}/ferrun-thumbnailer DESTINATION ${FERRUN_LIBEXEC_DIR})
install(CODE "
    set(FERRUN_THUMBNAILER \"\${CMAKE_INSTALL_PREFIX}/${FERRUN_LIBEXEC_DIR}/ferrun-thumbnailer\")
    configure_file(\"${FERRUN_PACKAGING_DIR}/ferrun.thumbnailer.in\"
                   \"${CMAKE_BINARY_DIR}/packaging/ferrun.thumbnailer\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/thumbnailers\"
         TYPE FILE FILES \"${CMAKE_BINARY_DIR}/packaging/ferrun.thumbnailer\")
")
install(FILES ${FERRUN_PACKAGING_DIR}/icons/ferrun.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${FERRUN_PACKAGING_DIR}/icons/ferrun-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME ferrun.png)
endforeach()
install(FILES ${FERRUN_PACKAGING_DIR}/70-ferrun-board.rules DESTINATION ${FERRUN_UDEV_RULES_DIR})
install(FILES ${FERRUN_PACKAGING_DIR}/ferrun-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ferrun-cli)
# A native package's changelog is changelog.gz (the Debian changelog and the project's are one).
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${FERRUN_PACKAGING_DIR}/copyright
              ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${FERRUN_DOC_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/app/resources/help/
        DESTINATION ${FERRUN_DOC_DIR}/help FILES_MATCHING PATTERN "*.html")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrun)
set(CPACK_PACKAGE_VENDOR "Ferrun developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The maintainer, for the control file; a release sets a working address. The default is
# a syntactically valid placeholder under the reserved .invalid domain: lintian refuses a host
# such as localhost (bogus-mail-host, an error), and .invalid can never reach anyone.
set(FERRUN_PACKAGE_MAINTAINER "Ferrun developers <ferrun@ferrun.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
# Build folders configured before keep the earlier default, which lintian refuses.
if(FERRUN_PACKAGE_MAINTAINER STREQUAL "Ferrun developers <ferrun@localhost>")
    set_property(CACHE FERRUN_PACKAGE_MAINTAINER PROPERTY VALUE
                 "Ferrun developers <ferrun@ferrun.invalid>")
endif()
set(CPACK_PACKAGE_CONTACT ${FERRUN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FERRUN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "recorder for a USB thermocouple and photodiode acquisition board")
# Lines of at most 79 characters: the width of a terminal, as Debian wants it.
set(CPACK_PACKAGE_DESCRIPTION
    "Ferrun drives a USB data-acquisition board: an ADC with its own
microcontroller behind a USB-to-UART bridge, sampling up to seven thermocouples
and a photodiode. It runs measurements, draws them, repeats averaged cycle
measurements, saves and reopens recordings as .kdx files with a comment,
searches the comments of a folder, and prints or copies the chart.

The package holds the window (ferrun), the headless front end (ferrun-cli), a
board simulator (ferrun-board), a udev rule that gives the logged-in user
access to the board, and the desktop's knowledge of recordings: their file
type, thumbnails that show their chart, and the menu entry that opens them.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Installs into the package's tree with DESTDIR and the prefix /usr, so that
# CMAKE_INSTALL_PREFIX is /usr while installing (the thumbnailer file above writes it into its
# Exec line); without DESTDIR, cpack would install with the package's tree as the prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# cpack gives the package a postinst and a postrm that run ldconfig, since the plot module is a
# shared object under /usr/lib (in lib/ferrun, which ldconfig does not read): redundant, and
# harmless; lintian notes it (maintscript-calls-ldconfig).
# The toolkit's own Russian texts for the standard dialogs; without them those dialogs speak English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)

include(${CMAKE_CURRENT_LIST_DIR}/FerrunManPages.cmake)
