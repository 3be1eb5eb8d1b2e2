# Checks that the folders depend on each other one way only: each folder's
# sources include project headers from the folders listed for it and nothing
# else, and no folder below the window includes a Qt Widgets or Gui header.
# Run as: cmake -DSOURCE_DIR=<top of the tree> -P CheckLayers.cmake
cmake_policy(SET CMP0057 NEW)

set(ALLOWED_base)
set(ALLOWED_serial base)
set(ALLOWED_rotator serial base)
set(ALLOWED_settings rotator serial base)
set(ALLOWED_ctrltable settings rotator serial base)
set(ALLOWED_station ctrltable settings rotator serial base)
set(ALLOWED_remote station ctrltable settings rotator serial base)
set(PROJECT_FOLDERS app remote station ctrltable settings rotator serial base tools)

set(FAULTS "")
foreach(folder base serial rotator settings ctrltable station remote)
  file(GLOB sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
        set(target ${CMAKE_MATCH_1})
        if(NOT target STREQUAL folder AND target IN_LIST PROJECT_FOLDERS
           AND NOT target IN_LIST ALLOWED_${folder})
          string(APPEND FAULTS "${source}: ${folder} may not include ${target}/: ${line}\n")
        endif()
      endif()
      if(line MATCHES "<(QtWidgets|QtGui)/" OR line MATCHES
         "<Q(Widget|Application|GuiApplication|Image|ImageReader|Pixmap|Painter|Color|Font|Icon|Screen|Dialog|Label|PushButton|MainWindow|MessageBox)>")
        string(APPEND FAULTS "${source}: ${folder} may not use Qt Widgets or Gui: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(FAULTS)
  message(FATAL_ERROR "Layer faults:\n${FAULTS}")
endif()
message(STATUS "Layers: every include runs one way")
