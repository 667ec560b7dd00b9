# The Plugins folder and the shipped codec presets of the program folder.
#
# Plugins/ holds links to the encoders found on this system (a missing one is simply left
# out; presets naming it then fail to start, which the main window reports) and the
# project's own WAV writer, which src/recording/wavwriter builds straight into it.

set(VT_PLUGINS_DIR ${VANTREL_PROGRAM_DIR}/Plugins)
set(vt_plugin_links)
foreach(encoder lame flac oggenc opusenc ffmpeg)
  find_program(VT_ENCODER_${encoder} ${encoder})
  if(VT_ENCODER_${encoder})
    list(APPEND vt_plugin_links
      COMMAND ${CMAKE_COMMAND} -E create_symlink ${VT_ENCODER_${encoder}} ${VT_PLUGINS_DIR}/${encoder})
  else()
    message(STATUS "Encoder ${encoder} not found: its presets will not run")
  endif()
endforeach()

add_custom_target(vt_plugins ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VT_PLUGINS_DIR}
  ${vt_plugin_links}
  COMMENT "Linking the encoders into ${VT_PLUGINS_DIR}"
  VERBATIM)
add_dependencies(vt_plugins vtwav)

# The preset file is made from the readable list when the list changes, and only then: the
# user edits the presets of the program folder in the settings dialog, and a rebuild must
# not undo that.
set(VT_PRESET_LIST ${CMAKE_CURRENT_SOURCE_DIR}/Presets/Vantrel/codecs.txt)
set(VT_PRESET_FILE ${VANTREL_PROGRAM_DIR}/Presets/Vantrel/Codecs.prs)
add_custom_command(OUTPUT ${VT_PRESET_FILE}
  COMMAND $<TARGET_FILE:vt_mkpresets> ${VT_PRESET_LIST} ${VT_PRESET_FILE}
  DEPENDS ${VT_PRESET_LIST}
  COMMENT "Making ${VT_PRESET_FILE}"
  VERBATIM)
add_custom_target(vt_presets ALL DEPENDS ${VT_PRESET_FILE})
add_dependencies(vt_presets vt_mkpresets)
