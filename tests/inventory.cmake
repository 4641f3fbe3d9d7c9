zarvik_test(inventory_walk_test SOURCES inventory_walk_test.cpp LIBS kelvane_core)
if(WITH_GUI)
  zarvik_test(inventory_window_test GUI SOURCES inventory_window_test.cpp LIBS kelvane_gui Qt6::Test)
endif()
