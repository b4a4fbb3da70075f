# The window's texts in other languages, through Qt Linguist (Debian package qt6-l10n-tools):
# translations/morvex_<language>.ts are the sources, in the tree; lrelease turns each into a .qm
# file in the build tree, and the .qm files are built into the target's resources under :/i18n,
# where installTranslations (Code/Controller/Translations.cpp) looks for them.
#
# After changing a text in the window, the sheet or the alerts: cmake --build <build> --target
# update-translations brings the new and changed texts into the .ts files, marked unfinished,
# for a translator to fill in (with Qt Linguist, or by hand).
set(MORVEX_LANGUAGES de es fr ja)

function(morvex_translations target)
    # Qt keeps its tools in bin beside the libexec that holds moc; they are not on PATH.
    get_target_property(moc Qt6::moc IMPORTED_LOCATION)
    get_filename_component(qt_tools ${moc}/../../bin ABSOLUTE)
    find_program(MORVEX_LRELEASE lrelease HINTS ${qt_tools} REQUIRED)
    find_program(MORVEX_LUPDATE lupdate HINTS ${qt_tools})
    set(qm_files)
    set(ts_files)
    foreach(language ${MORVEX_LANGUAGES})
        set(ts ${PROJECT_SOURCE_DIR}/translations/morvex_${language}.ts)
        set(qm ${CMAKE_CURRENT_BINARY_DIR}/i18n/morvex_${language}.qm)
        add_custom_command(OUTPUT ${qm}
            COMMAND ${MORVEX_LRELEASE} -silent ${ts} -qm ${qm}
            DEPENDS ${ts}
            COMMENT "Compiling the ${language} translation")
        list(APPEND qm_files ${qm})
        list(APPEND ts_files ${ts})
    endforeach()
    qt_add_resources(${target} morvex_translations PREFIX /i18n
        BASE ${CMAKE_CURRENT_BINARY_DIR}/i18n FILES ${qm_files})
    if(MORVEX_LUPDATE)
        # Locations are left out, so that a text moved in the code changes no .ts file.
        add_custom_target(update-translations
            COMMAND ${MORVEX_LUPDATE} -silent -locations none ${CMAKE_CURRENT_SOURCE_DIR}
                -ts ${ts_files}
            COMMENT "Bringing the window's texts into translations/*.ts")
    endif()
endfunction()
