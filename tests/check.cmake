# The check and its results: the engine and the grid's bulk removal headless,
# the window's check scripts through the scripted Host.
zarvik_test(check_engine_test SOURCES check_engine_test.cpp check_grid_test.cpp LIBS kelvane_core)
if(WITH_GUI)
  zarvik_test(check_window_test GUI SOURCES check_window_test.cpp LIBS kelvane_gui host Qt6::Test)
  if(WITH_SPREADSHEETS)
    target_compile_definitions(check_window_test PRIVATE KELVANE_TEST_SPREADSHEETS=1)
  endif()
endif()
