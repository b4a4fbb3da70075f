# morvex_check_layers(DIRECTORY <folder>)
#
# A library's public link hands its include folder on to whoever links the library, because the
# library's public headers include that folder's headers; it would hand on every other header of
# that folder too. So each target's build begins with a look at its own files: a source may
# include a public header of its own library or of one it links itself, and a public header only
# one of its own library or of one it links PUBLIC. Any other "Folder/Header.h" of a Morvex
# library, and any include that climbs out of its folder ("../"), fails the build, naming the file
# and what to link. Headers that are no library's public header (the part's private ones, named
# plainly) are the compiler's to find or not. Checked: the libraries and programs made in folder
# and below; a header-only library has no build to begin, and its headers are checked where used.
function(morvex_check_layers)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "DIRECTORY" "")
    get_property(owners GLOBAL PROPERTY MORVEX_HEADER_OWNERS)
    set(folders ${arg_DIRECTORY})
    set(targets "")
    while(folders)
        list(POP_FRONT folders folder)
        get_property(made DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
        get_property(below DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
        list(APPEND targets ${made})
        list(APPEND folders ${below})
    endwhile()
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
            continue()
        endif()
        get_target_property(folder ${target} SOURCE_DIR)
        get_target_property(sources ${target} SOURCES)
        get_target_property(headers ${target} MORVEX_PUBLIC_HEADERS)
        get_target_property(links ${target} LINK_LIBRARIES)
        get_target_property(public ${target} INTERFACE_LINK_LIBRARIES)
        list(FILTER sources INCLUDE REGEX "\\.(cpp|h)$")
        list(TRANSFORM sources PREPEND ${folder}/ REGEX "^[^/]")
        if(NOT headers)
            set(headers "")
        endif()
        list(TRANSFORM headers PREPEND ${folder}/)
        # What a private link leaves in INTERFACE_LINK_LIBRARIES is for the linker only.
        list(FILTER public EXCLUDE REGEX "^\\$<LINK_ONLY:")
        set(manifest ${CMAKE_BINARY_DIR}/layers/${target}.cmake)
        file(WRITE ${manifest} "set(target ${target})\nset(owners \"${owners}\")\n"
            "set(sources \"${sources}\")\nset(sources_may \"${target};${links}\")\n"
            "set(headers \"${headers}\")\nset(headers_may \"${target};${public}\")\n")
        set(stamp ${CMAKE_BINARY_DIR}/layers/${target}.checked)
        add_custom_command(OUTPUT ${stamp}
            COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest} -DSTAMP=${stamp}
                -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
            DEPENDS ${sources} ${headers} ${manifest} ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
            COMMENT "Checking the includes of ${target} against its links"
            VERBATIM)
        add_custom_target(${target}-layers DEPENDS ${stamp})
        add_dependencies(${target} ${target}-layers)
    endforeach()
endfunction()
