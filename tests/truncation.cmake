# List truncation (jqwz, cb_11, w_put) and the clicks on the lists.
zarvik_test(truncation_test SOURCES truncation_test.cpp LIBS kelvane_core)
if(WITH_GUI)
  zarvik_test(truncation_window_test GUI SOURCES truncation_window_test.cpp
              LIBS kelvane_gui host Qt6::Test)
  zarvik_test(list_clicks_test GUI SOURCES list_clicks_test.cpp LIBS kelvane_gui host Qt6::Test)
endif()
