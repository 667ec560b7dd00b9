# cmake -DSRC=<data folder> -DDST=<program folder> -P LayOutProgramFolder.cmake
# Shipped content missing from SRC fails the build; the settings files are copied only
# when the program folder has none yet, since the user's changes live there.
foreach(dir Log Plugins Presets/Vantrel Lang)
  file(MAKE_DIRECTORY ${DST}/${dir})
endforeach()
foreach(f vantrel.ini system.ini)
  if(NOT EXISTS ${DST}/${f})
    file(COPY ${SRC}/${f} DESTINATION ${DST})
  endif()
endforeach()
file(COPY ${SRC}/Lang/ DESTINATION ${DST}/Lang)
# The seek bar's pictures; their generator script stays behind.
file(COPY ${SRC}/Images/seek-strip.png ${SRC}/Images/seek-knob.png DESTINATION ${DST}/Images)
