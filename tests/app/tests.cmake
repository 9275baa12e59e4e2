torvik7_test(app_tests GUI
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/DataExchangeTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SheetTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PagesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CommandsTest.cpp
  LIBS torvik7_app)
