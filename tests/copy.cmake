# The copy, opening a listed file and the command line: the engines headless,
# the window's scripts through the scripted Host, the command line by running
# the built program.
zarvik_test(copy_engine_test SOURCES copy_engine_test.cpp LIBS kelvane_core)
# The copies' containment in their target, also through the part-by-part way.
zarvik_without_openat2_run(copy_engine_test)
zarvik_test(command_line_test SOURCES command_line_test.cpp LIBS kelvane_core)
target_compile_definitions(command_line_test PRIVATE KELVANE_PROGRAM="$<TARGET_FILE:kelvane>")
add_dependencies(command_line_test kelvane)
if(WITH_SPREADSHEETS)
  target_link_libraries(command_line_test PRIVATE PkgConfig::LIBZIP)
  target_compile_definitions(command_line_test PRIVATE KELVANE_TEST_SPREADSHEETS=1)
endif()
if(WITH_GUI)
  zarvik_test(copy_window_test GUI SOURCES copy_window_test.cpp LIBS kelvane_gui host Qt6::Test)
endif()
# Holes, clones and the target's handle on mounted file systems (as root).
zarvik_test(copy_path_test SOURCES copy_path_test.cpp LIBS kelvane_core torrin_engine)
zarvik_without_openat2_run(copy_path_test)
# The one copy path of both programs: whole copies of one state of their
# source, named only after a flush, their ends in order.
zarvik_test(target_copies_test SOURCES target_copies_test.cpp LIBS common)
