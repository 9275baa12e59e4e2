# The desktop utility: everything but main() is the library torvik7_app, so the widget
# tests and the screenshot tool build the very same window.
set(app_dir ${CMAKE_CURRENT_LIST_DIR})
set(res_dir ${CMAKE_SOURCE_DIR}/resources)

add_library(torvik7_app STATIC
  ${app_dir}/SetupApp.h ${app_dir}/SetupApp.cpp
  ${app_dir}/SetupDlg.h ${app_dir}/SetupDlg.cpp
  ${app_dir}/PageCopies.h ${app_dir}/PageCopies.cpp
  ${app_dir}/PortList.h ${app_dir}/PortList.cpp
  ${app_dir}/VirtualDevice.h ${app_dir}/VirtualDevice.cpp
  ${res_dir}/SetupDlg.ui ${res_dir}/AboutDlg.ui
  ${res_dir}/resources.qrc
)
target_include_directories(torvik7_app PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(torvik7_app PUBLIC torvik7_platform torvik7_settings torvik7_link
  torvik7_pages Qt6::Widgets Qt6::SerialPort Qt6::Svg)

# The simulator lives under tools/, which is configured after us: decide at generation.
target_link_libraries(torvik7_app PUBLIC $<TARGET_NAME_IF_EXISTS:torvik7_sim>)
target_compile_definitions(torvik7_app PRIVATE
  $<$<TARGET_EXISTS:torvik7_sim>:TORVIK7_HAS_SIM=1>)

add_executable(torvik7-setup ${app_dir}/main.cpp)
target_link_libraries(torvik7-setup PRIVATE torvik7_app)
install(TARGETS torvik7-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Pictures of the window for the README (scripts/screenshots runs it under a bare X server).
add_executable(torvik7-screenshots ${CMAKE_SOURCE_DIR}/tools/screenshots/main.cpp)
target_link_libraries(torvik7-screenshots PRIVATE torvik7_app)

# The event-code help page is generated under tools/, configured after us. A copy beside
# the program lets the build tree run like an install; the page's own target is only known
# once every directory is configured.
add_custom_command(TARGET torvik7-setup POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DFROM=${CMAKE_BINARY_DIR}/ContactIDEventCodes.html
          -DTO=$<TARGET_FILE_DIR:torvik7-setup> -P ${app_dir}/CopyIfPresent.cmake
  VERBATIM)
function(torvik7_app_help_page)
  if(TARGET help_page)
    add_dependencies(torvik7-setup help_page)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL torvik7_app_help_page)
