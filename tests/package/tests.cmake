if(TARGET torvik7-setup AND NOT TORVIK7_SANITIZE)
  add_test(NAME package_install
           COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check-deb.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_install PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
