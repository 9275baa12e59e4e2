# bench_link: a full read and a full write against the simulator with the real waits.
# Not a test: it takes about three minutes. Run it by hand.
if(TARGET torvik7_link AND TARGET torvik7_sim)
  add_executable(bench_link ${CMAKE_CURRENT_LIST_DIR}/LinkBench.cpp)
  target_link_libraries(bench_link PRIVATE torvik7_link torvik7_sim)
endif()
