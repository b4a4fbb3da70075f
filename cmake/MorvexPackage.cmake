# The release artefacts, made by cpack in a Release build (tools/release does it all):
#   cpack -G DEB   morvex_<version>_<architecture>.deb: the Debian component, under /usr. Its
#                  Depends line is worked out from the programs' libraries by dpkg-shlibdeps
#                  (Debian package dpkg-dev), so that apt brings in Qt 6, ALSA and JACK.
#   cpack -G TGZ   Morvex-<version>-<processor>.tar.gz: Morvex.AppDir as a plain install lays it
#                  out, for a vendor to unpack into an update's folder.
set(CPACK_PACKAGE_NAME morvex)
set(CPACK_PACKAGE_VENDOR "the Morvex authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "sends the System Exclusive messages of an update folder to a MIDI device")
# Debian shows the description as it stands, and wants lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION "Morvex puts firmware and sound data into hardware synthesizers: it
sends the System Exclusive messages of the Standard MIDI Files in a folder to
one MIDI destination, through the ALSA sequencer or JACK, each after its delay.
Every byte arrives whole, or Morvex says plainly which file did not, and why.

It comes as a window (morvex), a terminal sender (morvex-send), a MIDI receiver
to rehearse with (morvex-monitor) and a maker of test updates
(morvex-make-update).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB TGZ)

# The tarball: a whole install, which leaves the Debian component out, with Morvex.AppDir at its
# top.
set(CPACK_PACKAGE_FILE_NAME Morvex-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# The Debian package: the Debian component alone, as one package named after the project.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# Qt's own texts (the standard buttons, the folder chooser) in the window's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
# packaging/CMakeLists.txt sets both, since the changelog is signed by the maintainer.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MORVEX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${MORVEX_HOMEPAGE})

include(CPack)
