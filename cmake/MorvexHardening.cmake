# Release builds carry the hardening that Debian's own packages are built with, as
# dpkg-buildflags (Debian package dpkg-dev, which build-essential brings) gives it: fortified
# library calls, a stack protector, a read-only relocation table bound at start. Its -g and -O2
# are left out: the package is stripped, and Release's own -O3 stays the optimisation. Where there
# is no dpkg-buildflags, the build goes on without them.
find_program(MORVEX_DPKG_BUILDFLAGS dpkg-buildflags)
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND MORVEX_DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        # Run in the source folder, so that -ffile-prefix-map takes this machine's path out of
        # the programs.
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${MORVEX_DPKG_BUILDFLAGS} --get ${kind}
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(g|O.*)$")
        if(kind STREQUAL "LDFLAGS")
            add_link_options(${flags})
        else()
            add_compile_options(${flags})
        endif()
    endforeach()
elseif(CMAKE_BUILD_TYPE STREQUAL "Release")
    message(STATUS "No dpkg-buildflags: the Release build goes without Debian's hardening flags")
endif()
