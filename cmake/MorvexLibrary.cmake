# morvex_library(NAME FOLDER <Folder> SOURCES ... [HEADERS ...] [PUBLIC ...] [PRIVATE ...])
#
# One part of Morvex as a static library. Its public HEADERS are linked into an include folder of
# the library's own in the build tree, as <Folder>/<Header>, and that folder is the only one the
# library offers. A target that does not link the library cannot include its headers, one that
# does sees only the public ones, and a public header can only include public headers of the
# libraries it links: the layers are the build's to enforce. Inside the part, sources include its
# private headers by their plain name, found beside them. A part with no SOURCES is headers only.
function(morvex_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "FOLDER" "SOURCES;HEADERS;PUBLIC;PRIVATE")
    # For the check of every target's includes against its links (cmake/MorvexLayers.cmake).
    foreach(header IN LISTS arg_HEADERS)
        set_property(GLOBAL APPEND PROPERTY MORVEX_HEADER_OWNERS "${arg_FOLDER}/${header}>${name}")
    endforeach()
    if(NOT arg_SOURCES)
        add_library(${name} INTERFACE)
        morvex_library_headers(${name} INTERFACE ${arg_FOLDER} ${arg_HEADERS})
        target_link_libraries(${name} INTERFACE ${arg_PUBLIC})
        return()
    endif()
    add_library(${name} STATIC ${arg_SOURCES})
    morvex_library_headers(${name} PUBLIC ${arg_FOLDER} ${arg_HEADERS})
    set_target_properties(${name} PROPERTIES MORVEX_PUBLIC_HEADERS "${arg_HEADERS}")
    target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE} morvex_warnings)
endfunction()

# Links each header into the library's own include folder as <folder>/<header>.
function(morvex_library_headers name scope folder)
    set(include_root ${CMAKE_BINARY_DIR}/include/${name})
    file(REMOVE_RECURSE ${include_root})
    foreach(header IN LISTS ARGN)
        get_filename_component(target_folder ${include_root}/${folder}/${header} DIRECTORY)
        file(MAKE_DIRECTORY ${target_folder})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header}
            ${include_root}/${folder}/${header} SYMBOLIC)
    endforeach()
    target_include_directories(${name} ${scope} ${include_root})
endfunction()
