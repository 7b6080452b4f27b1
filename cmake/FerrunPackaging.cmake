# Installation layout and the Debian package.
#
# `cmake --install build` (prefix /usr/local unless CMAKE_INSTALL_PREFIX says otherwise) and the
# package (prefix /usr) put:
#   bin/ferrun, bin/ferrun-cli, bin/ferrun-board      the window, the headless front end and
#                                                      the board simulator
#   share/applications/ferrun.desktop                  the desktop menu entry
#   share/icons/hicolor/{scalable,NxN}/apps/ferrun.*   its icon
#   lib/udev/rules.d/70-ferrun-board.rules             access to the board for the seat's user
#   share/doc/ferrun/                                  README, copyright, the help pages
# Benchmarks and tests are not installed. The help is compiled into the window's resources;
# the pages under share/doc/ferrun/help are a copy to read without the program.
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

install(TARGETS ferrun ferrun-cli ferrun-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FERRUN_PACKAGING_DIR}/ferrun.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${FERRUN_PACKAGING_DIR}/icons/ferrun.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${FERRUN_PACKAGING_DIR}/icons/ferrun-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME ferrun.png)
endforeach()
install(FILES ${FERRUN_PACKAGING_DIR}/70-ferrun-board.rules DESTINATION ${FERRUN_UDEV_RULES_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${FERRUN_PACKAGING_DIR}/copyright
        DESTINATION ${FERRUN_DOC_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/app/resources/help/
        DESTINATION ${FERRUN_DOC_DIR}/help FILES_MATCHING PATTERN "*.html")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrun)
set(CPACK_PACKAGE_VENDOR "Ferrun developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(FERRUN_PACKAGE_MAINTAINER "Ferrun developers <ferrun@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${FERRUN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FERRUN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "recorder for a USB thermocouple and photodiode acquisition board")
set(CPACK_PACKAGE_DESCRIPTION
    "Ferrun drives a USB data-acquisition board: an ADC with its own microcontroller behind a
USB-to-UART bridge, sampling up to seven thermocouples and a photodiode. It runs
measurements, draws them, repeats averaged cycle measurements, saves and reopens
recordings as .kdx files with a comment, searches the comments of a folder, and prints
or copies the chart.

The package holds the window (ferrun), the headless front end (ferrun-cli), a board
simulator (ferrun-board) and a udev rule that gives the logged-in user access to the
board.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The toolkit's own Russian texts for the standard dialogs; without them those dialogs speak English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
