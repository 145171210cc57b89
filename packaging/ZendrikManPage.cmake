# zendrik_man_page(TARGET <program> PAGE <name> SECTION <n> SUMMARY <one line> INCLUDE <file.h2m>
#                  [INCLUDE_SCRIPT <script>] COMPONENT <install component>)
#
# A program's manual page, written by help2man from the program's own --help and --version texts and
# the hand-written sections of INCLUDE, so the page cannot drift from the options the program takes.
# With INCLUDE_SCRIPT the include file is made at build time by `SCRIPT PROGRAM INCLUDE OUTPUT` (zendrik
# adds the help text of each subcommand that way). The page is compressed, as Debian keeps manual pages,
# and installed in man<n> with COMPONENT. Without help2man there are no pages.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)

function(zendrik_man_page)
    cmake_parse_arguments(ARG "" "TARGET;PAGE;SECTION;SUMMARY;INCLUDE;INCLUDE_SCRIPT;COMPONENT" "" ${ARGN})
    if(NOT HELP2MAN OR NOT GZIP)
        return()
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${ARG_PAGE}.${ARG_SECTION})
    set(include_file ${ARG_INCLUDE})
    set(make_include "")
    if(ARG_INCLUDE_SCRIPT)
        set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${ARG_PAGE}.h2m)
        set(make_include COMMAND ${ARG_INCLUDE_SCRIPT} $<TARGET_FILE:${ARG_TARGET}> ${ARG_INCLUDE} ${include_file})
    endif()
    add_custom_command(OUTPUT ${page}.gz
        ${make_include}
        COMMAND ${HELP2MAN} --no-info --section=${ARG_SECTION} --include=${include_file}
                --name=${ARG_SUMMARY} --output=${page} $<TARGET_FILE:${ARG_TARGET}>
        # -n: no name or time stamp in the header, so that a rebuild gives the same bytes.
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${ARG_TARGET} ${ARG_INCLUDE} ${ARG_INCLUDE_SCRIPT}
        COMMENT "Writing the ${ARG_PAGE}(${ARG_SECTION}) manual page"
        VERBATIM)
    add_custom_target(${ARG_PAGE}-man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${ARG_SECTION} COMPONENT ${ARG_COMPONENT})
endfunction()

# zendrik_written_man_page(SOURCE <page.in> PAGE <name> SECTION <n> COMPONENT <install component>)
#
# A hand-written manual page, for a program without a command line to take one from (the Qt tool):
# @PROJECT_VERSION@ filled in, compressed and installed like the pages above.
function(zendrik_written_man_page)
    cmake_parse_arguments(ARG "" "SOURCE;PAGE;SECTION;COMPONENT" "" ${ARGN})
    if(NOT GZIP)
        return()
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${ARG_PAGE}.${ARG_SECTION})
    configure_file(${ARG_SOURCE} ${page} @ONLY)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${GZIP} -9nkf ${page}
        DEPENDS ${page}
        COMMENT "Compressing the ${ARG_PAGE}(${ARG_SECTION}) manual page"
        VERBATIM)
    add_custom_target(${ARG_PAGE}-man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${ARG_SECTION} COMPONENT ${ARG_COMPONENT})
endfunction()
