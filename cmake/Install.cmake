# `cmake --install` lays Vantrel out as a desktop program under the prefix:
#
#   bin/vantrel                          the program
#   lib/vantrel/vtwav                    the WAV writer (an executable, so not under share/)
#   share/vantrel/                       the shipped program folder content, copied into each
#                                        user's own folder at the first start
#   share/applications, share/icons/hicolor/scalable/apps, share/metainfo, share/man/man1
#   lib/systemd/user/vantrel.service, vantrel@.service
#
# The program finds its data as ../share/vantrel and ../lib/vantrel from its own folder, so
# these paths are fixed rather than taken from GNUInstallDirs (whose LIBDIR may carry a
# multiarch part), and any prefix, a staging folder included, gives a working copy.

set(VT_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/data/desktop)
set(VT_APP_ID org.vantrel.Vantrel)

# The installed presets come from the readable list, never from the build tree's program
# folder, whose presets the developer may have edited in the settings dialog.
set(VT_SHIPPED_PRESETS ${CMAKE_BINARY_DIR}/shipped/Codecs.prs)
add_custom_command(OUTPUT ${VT_SHIPPED_PRESETS}
  COMMAND $<TARGET_FILE:vt_mkpresets> ${PROJECT_SOURCE_DIR}/data/Presets/Vantrel/codecs.txt ${VT_SHIPPED_PRESETS}
  DEPENDS ${PROJECT_SOURCE_DIR}/data/Presets/Vantrel/codecs.txt vt_mkpresets
  VERBATIM)
add_custom_target(vt_shipped_presets ALL DEPENDS ${VT_SHIPPED_PRESETS})

configure_file(${VT_DESKTOP_DIR}/${VT_APP_ID}.metainfo.xml ${CMAKE_BINARY_DIR}/shipped/${VT_APP_ID}.metainfo.xml @ONLY)
configure_file(${VT_DESKTOP_DIR}/vantrel.1 ${CMAKE_BINARY_DIR}/shipped/vantrel.1 @ONLY)
# Man pages are installed compressed, as man-db and Debian expect.
file(ARCHIVE_CREATE OUTPUT ${CMAKE_BINARY_DIR}/shipped/vantrel.1.gz PATHS ${CMAKE_BINARY_DIR}/shipped/vantrel.1
     FORMAT raw COMPRESSION GZip)

install(TARGETS vantrel RUNTIME DESTINATION bin)
install(TARGETS vtwav RUNTIME DESTINATION lib/vantrel)

install(FILES ${PROJECT_SOURCE_DIR}/data/vantrel.ini ${PROJECT_SOURCE_DIR}/data/system.ini
        DESTINATION share/vantrel)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/Lang DESTINATION share/vantrel)
install(FILES ${VT_SHIPPED_PRESETS} DESTINATION share/vantrel/Presets/Vantrel)
install(FILES ${PROJECT_SOURCE_DIR}/data/Images/seek-strip.png ${PROJECT_SOURCE_DIR}/data/Images/seek-knob.png
        DESTINATION share/vantrel/Images)

install(FILES ${VT_DESKTOP_DIR}/${VT_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${VT_DESKTOP_DIR}/${VT_APP_ID}.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_BINARY_DIR}/shipped/${VT_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/shipped/vantrel.1.gz DESTINATION share/man/man1)

# The units name the program by its absolute path, which is known only when installing
# (`--prefix` and the package's /usr both replace the configured prefix).
install(CODE "
  get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  set(VANTREL_BINARY \"\${prefix}/bin/vantrel\")
  foreach(unit vantrel.service vantrel@.service)
    configure_file(${VT_DESKTOP_DIR}/\${unit}.in ${CMAKE_BINARY_DIR}/shipped/units/\${unit} @ONLY)
  endforeach()
  file(INSTALL ${CMAKE_BINARY_DIR}/shipped/units/vantrel.service ${CMAKE_BINARY_DIR}/shipped/units/vantrel@.service
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
")

# Installing and packaging take what is built (scripts/package.sh builds the program
# first) rather than building every test and benchmark on the way.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
