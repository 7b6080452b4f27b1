# Manual pages of ferrun, ferrun-cli and ferrun-board, made from their --help by help2man
# (packaging/make-manpage.sh) whenever a program is rebuilt, and installed compressed to
# share/man/man1. ferrun-cli(1) holds the --help of each command its own --help lists as a
# subsection; the plot command's help is in the plot module, hence its dependency.
#
# Without help2man (`make deps` installs it) the pages are not made: the build goes on and the
# package test reports them missing.
find_program(FERRUN_HELP2MAN help2man)
if(NOT FERRUN_HELP2MAN)
    message(WARNING "help2man not found: the manual pages are not made (make deps installs it)")
    return()
endif()

set(FERRUN_MAN_DIR ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${FERRUN_MAN_DIR})
set(FERRUN_MAN_SCRIPT ${CMAKE_SOURCE_DIR}/packaging/make-manpage.sh)
set(FERRUN_MAN_PAGES)

# ferrun_man_page(TARGET "WHAT IT IS" [DEPENDS TARGET...])
function(ferrun_man_page target what)
    cmake_parse_arguments(PARSE_ARGV 2 man "" "" "DEPENDS")
    set(page ${FERRUN_MAN_DIR}/${target}.1.gz)
    add_custom_command(OUTPUT ${page}
        COMMAND ${FERRUN_MAN_SCRIPT} ${page} ${PROJECT_VERSION} ${what}
                $<TARGET_FILE:${target}>
        DEPENDS ${target} ${man_DEPENDS} ${FERRUN_MAN_SCRIPT}
        COMMENT "Manual page ${target}(1)"
        VERBATIM)
    set(FERRUN_MAN_PAGES ${FERRUN_MAN_PAGES} ${page} PARENT_SCOPE)
endfunction()

ferrun_man_page(ferrun "the window of the Ferrun thermocouple and photodiode acquisition board")
ferrun_man_page(ferrun-cli
    "measurements, cycle runs, exports and charts of the Ferrun acquisition board, without a window"
    DEPENDS ferrun_plot)
ferrun_man_page(ferrun-board "the Ferrun acquisition board simulated on a pseudo-terminal")

add_custom_target(ferrun_man_pages ALL DEPENDS ${FERRUN_MAN_PAGES})
install(FILES ${FERRUN_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
