# Runs the built torvik7ctl on temporary files.
torvik7_test(cli_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CliTest.cpp
  LIBS torvik7_settings Qt6::Core)
target_compile_definitions(cli_tests PRIVATE TORVIK7_CTL="$<TARGET_FILE:torvik7ctl>")
add_dependencies(cli_tests torvik7ctl)
