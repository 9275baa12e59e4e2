# Rebuild times of the loop and group trees. Run by hand; not a test.
if(TARGET torvik7_pages)
  add_executable(bench_pages ${CMAKE_CURRENT_LIST_DIR}/PagesBench.cpp)
  target_link_libraries(bench_pages PRIVATE torvik7_pages)
endif()
