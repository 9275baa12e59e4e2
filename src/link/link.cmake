# The device link: serial port, block protocol and transfer sessions. QtCore and
# QtSerialPort only; no widget ever.
add_library(torvik7_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/LinkGlobals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtSerialPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TracingPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TransferSession.cpp
)
target_include_directories(torvik7_link PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(torvik7_link PUBLIC torvik7_settings torvik7_pacer Qt6::Core Qt6::SerialPort)
set_target_properties(torvik7_link PROPERTIES AUTOMOC OFF)
