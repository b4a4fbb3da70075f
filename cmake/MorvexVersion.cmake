# morvex_version: the version as the programs print it, from project(Morvex VERSION ...). Like a
# part's library it offers one include folder of its own, holding only Morvex/Version.h, which is
# generated into the build tree rather than linked from the sources.
set(version_include ${CMAKE_BINARY_DIR}/include/morvex_version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${version_include}/Morvex/Version.h @ONLY)
add_library(morvex_version INTERFACE)
target_include_directories(morvex_version INTERFACE ${version_include})
