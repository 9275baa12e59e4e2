torvik7_test(pages_tests GUI
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/LoopsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EventsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AddLoopDlgTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CodesTest.cpp
  LIBS torvik7_pages)
