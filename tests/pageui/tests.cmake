torvik7_test(pages_tests GUI
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/LoopsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EventsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AddLoopDlgTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CodesTest.cpp
  LIBS torvik7_pages)

# Not a test: renders the three tabs into docs/screenshots.
add_executable(pages_screenshots ${CMAKE_CURRENT_LIST_DIR}/Screenshots.cpp)
target_link_libraries(pages_screenshots PRIVATE torvik7_pages)
