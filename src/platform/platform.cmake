# The widget side of the platform layer.
add_library(torvik7_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Platform.h
  ${CMAKE_CURRENT_LIST_DIR}/PropertyPage.h
  ${CMAKE_CURRENT_LIST_DIR}/PropertyPage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PropertySheet.h
  ${CMAKE_CURRENT_LIST_DIR}/PropertySheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DataExchange.h
  ${CMAKE_CURRENT_LIST_DIR}/DataExchange.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtPlatform.cpp
)
target_include_directories(torvik7_platform PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(torvik7_platform PUBLIC Qt6::Widgets torvik7_pacer)
