# torrin's start-up, settings, unattended run and window.
zarvik_test(torrin_settings_test SOURCES torrin_settings_test.cpp LIBS torrin_core)
zarvik_test(torrin_startup_test SOURCES torrin_startup_test.cpp LIBS torrin_core)
# The unattended run is also tested as the built program, started without a display.
add_dependencies(torrin_startup_test torrin)
target_compile_definitions(torrin_startup_test PRIVATE TORRIN_PROGRAM="$<TARGET_FILE:torrin>")
if(WITH_GUI)
  target_compile_definitions(torrin_startup_test PRIVATE TORRIN_WITH_GUI=1)
  zarvik_test(torrin_window_test GUI SOURCES torrin_window_test.cpp LIBS torrin_gui Qt6::Test)
endif()
