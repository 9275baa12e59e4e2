torvik7_test(settings_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordTest.cpp
  LIBS torvik7_settings)
