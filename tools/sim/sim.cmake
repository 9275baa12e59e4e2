# The device simulator: the interface unit and one ТОРВИК-7 on a pseudo-terminal, for the
# tests, torvik7ctl sim, the benchmark and the utility's virtual device.
find_package(Threads REQUIRED)
add_library(torvik7_sim STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DeviceModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceSimulator.cpp
)
target_include_directories(torvik7_sim PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(torvik7_sim PUBLIC torvik7_settings Threads::Threads)
set_target_properties(torvik7_sim PROPERTIES AUTOMOC OFF)
