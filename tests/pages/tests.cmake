# ---- Contact ID table (no widgets) -------------------------------------------------
torvik7_test(contactid_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ContactIdTest.cpp
  LIBS torvik7_contactid)
# ---- end of the Contact ID table ---------------------------------------------------
