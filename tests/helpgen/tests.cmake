torvik7_test(helpgen_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HelpPageTest.cpp
  LIBS torvik7_helppage)
# Checks the page the build generated, so it must exist first.
target_compile_definitions(helpgen_tests PRIVATE
  TORVIK7_HELP_PAGE="${CMAKE_BINARY_DIR}/ContactIDEventCodes.html")
add_dependencies(helpgen_tests help_page)
