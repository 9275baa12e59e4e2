torvik7_test(settings_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/RecordTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImageTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FileTest.cpp
  LIBS torvik7_settings)
