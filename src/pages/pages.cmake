# The five pages of the settings sheet and the add-loop dialog.
add_library(torvik7_pages STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Devices.h
  ${CMAKE_CURRENT_LIST_DIR}/Devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Devices.ui
  ${CMAKE_CURRENT_LIST_DIR}/PhoneNums.h
  ${CMAKE_CURRENT_LIST_DIR}/PhoneNums.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PhoneNums.ui
  ${CMAKE_CURRENT_LIST_DIR}/PageTree.h
  ${CMAKE_CURRENT_LIST_DIR}/PageTree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Loops.h
  ${CMAKE_CURRENT_LIST_DIR}/Loops.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Loops.ui
  ${CMAKE_CURRENT_LIST_DIR}/Events.h
  ${CMAKE_CURRENT_LIST_DIR}/Events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Events.ui
  ${CMAKE_CURRENT_LIST_DIR}/AddLoopDlg.h
  ${CMAKE_CURRENT_LIST_DIR}/AddLoopDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AddLoopDlg.ui
  ${CMAKE_CURRENT_LIST_DIR}/Codes.h
  ${CMAKE_CURRENT_LIST_DIR}/Codes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Codes.ui
)
target_include_directories(torvik7_pages PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(torvik7_pages PUBLIC
  torvik7_platform torvik7_contactid torvik7_settings Qt6::Widgets)
