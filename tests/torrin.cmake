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
# Runs killed and run again, failures tried again, overlapping runs, and the
# order of the threshold's store (traced in the program's system calls).
zarvik_test(torrin_durability_test SOURCES torrin_durability_test.cpp LIBS torrin_core kelvane_core)
add_dependencies(torrin_durability_test torrin)
target_compile_definitions(torrin_durability_test PRIVATE TORRIN_PROGRAM="$<TARGET_FILE:torrin>")
zarvik_named_temporaries_run(torrin_durability_test)
