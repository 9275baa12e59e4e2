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
