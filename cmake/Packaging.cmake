# `cpack -G DEB` in the build folder makes vantrel_<version>_<arch>.deb from the install
# rules (cmake/Install.cmake) with /usr as the prefix. The library dependencies are
# computed by dpkg-shlibdeps (package dpkg-dev) from the installed executables.

set(VANTREL_PACKAGE_MAINTAINER "Vantrel developers <${VANTREL_SUPPORT_ADDRESS}>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VANTREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio logger recording by hand or on a daily schedule")
set(CPACK_PACKAGE_DESCRIPTION
  "Vantrel records the sound card's input (PulseAudio or PipeWire) by hand or by a daily
schedule and pipes the samples into an external encoder (lame, flac, oggenc, opusenc,
ffmpeg or its own WAV writer) that writes one dated file per recording. It keeps an
archive of its recordings, moves old ones to the trash, and runs with its window or
unattended as a systemd user service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANTREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VANTREL_WEB_ADDRESS})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The coverage ledger opens SQLite through Qt SQL's plugin, which no library links to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# The shipped presets run these encoders; the desktop hand-off opens help pages and mail
# links; the program needs a sound server but may reach one on another machine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "lame, flac, vorbis-tools, opus-tools, ffmpeg, xdg-utils, pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pulseaudio-utils")

include(CPack)
