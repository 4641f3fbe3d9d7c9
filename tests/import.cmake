# List import: the readers and the import engine headless, the buttons through
# the scripted Host.
zarvik_test(import_list_test SOURCES import_list_test.cpp LIBS kelvane_core)
if(WITH_SPREADSHEETS)
  zarvik_test(import_reader_test SOURCES import_reader_test.cpp LIBS kelvane_core PkgConfig::XLSXWRITER)
endif()
if(WITH_GUI)
  zarvik_test(import_window_test GUI SOURCES import_window_test.cpp LIBS kelvane_gui host Qt6::Test)
  if(WITH_SPREADSHEETS)
    target_link_libraries(import_window_test PRIVATE PkgConfig::XLSXWRITER)
    target_compile_definitions(import_window_test PRIVATE KELVANE_TEST_SPREADSHEETS=1)
  endif()
endif()
