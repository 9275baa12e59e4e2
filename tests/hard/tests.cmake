# Hardening: the fault campaign (one ctest entry for the whole table, so its summary covers
# every case), file faults, bad input pasted at the window, and the soak program (built, not
# run by ctest).
add_executable(fault_campaign_tests
  ${CMAKE_CURRENT_LIST_DIR}/FaultCampaign.cpp
  ${CMAKE_SOURCE_DIR}/tests/link/LinkFakes.cpp)
target_link_libraries(fault_campaign_tests PRIVATE torvik7_link torvik7_sim GTest::gtest)
target_include_directories(fault_campaign_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
add_test(NAME fault_campaign COMMAND fault_campaign_tests)
set_tests_properties(fault_campaign PROPERTIES TIMEOUT 600)

torvik7_test(hard_file_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileFaultTest.cpp
  LIBS torvik7_settings)

# The soak program: scripts/soak builds and runs it; ctest does not.
add_executable(torvik7_soak ${CMAKE_CURRENT_LIST_DIR}/Soak.cpp)
target_link_libraries(torvik7_soak PRIVATE torvik7_link torvik7_sim)
target_include_directories(torvik7_soak PRIVATE ${CMAKE_SOURCE_DIR}/tests)

if(TARGET torvik7_app)
  torvik7_test(hard_paste_tests GUI
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PasteTest.cpp
    LIBS torvik7_app torvik7_pages)
endif()
