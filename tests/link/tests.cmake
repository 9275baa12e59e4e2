torvik7_test(link_protocol_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProtocolTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LinkFakes.cpp
  LIBS torvik7_link torvik7_sim)
torvik7_test(link_session_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SessionTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LinkFakes.cpp
  LIBS torvik7_link torvik7_sim)
torvik7_test(link_e2e_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/EndToEndTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LinkFakes.cpp
  LIBS torvik7_link torvik7_sim)
torvik7_test(link_sim_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SimulatorTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LinkFakes.cpp
  LIBS torvik7_link torvik7_sim)
if(TARGET torvik7ctl)
  torvik7_test(link_ctl_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/CtlTest.cpp
    LIBS torvik7_sim)
  target_compile_definitions(link_ctl_tests PRIVATE TORVIK7CTL="$<TARGET_FILE:torvik7ctl>")
  add_dependencies(link_ctl_tests torvik7ctl)
endif()
