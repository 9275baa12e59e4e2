torvik7_test(app_tests GUI
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/DataExchangeTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SheetTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PagesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CommandsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VirtualDeviceTest.cpp
  LIBS torvik7_app)
# Whole transfers against the virtual device, once the simulator is part of the build.
if(TARGET app_tests)
  target_compile_definitions(app_tests PRIVATE $<$<TARGET_EXISTS:torvik7_sim>:TORVIK7_HAS_SIM=1>)
endif()
