# The path rules of both platforms, tested on every platform: each rule must
# hold where it applies and must differ from the other platform's where they differ.
zarvik_test(path_rules_test SOURCES path_rules_test.cpp LIBS host)

if(WIN32)
  message(STATUS "Windows tests: path_rules, windows_host, windows_torrin, text, check_grid, "
                 "truncation, resize, and with the windows the window tests; the other areas' "
                 "tests use FIFOs, links, permission bits and \"/\" paths and are left out")
  # Win32 host services and torrin's run on real folders (under wine in CI).
  zarvik_test(windows_host_test SOURCES windows_host_test.cpp LIBS common host)
  zarvik_test(windows_torrin_test SOURCES windows_torrin_test.cpp LIBS torrin_engine)
  # Both copy engines on several workers against one, on the Win32 file services.
  zarvik_test(parallel_copy_test SOURCES parallel_copy_test.cpp LIBS kelvane_core torrin_engine)
  # The window-free tests that build on no POSIX call.
  zarvik_test(check_grid_test SOURCES check_grid_test.cpp LIBS kelvane_core)
  zarvik_test(truncation_test SOURCES truncation_test.cpp LIBS kelvane_core)
  zarvik_test(resize_test SOURCES resize_test.cpp LIBS kelvane_core)
  # The text helpers and GBK conversions through the Win32 code pages. Its
  # local-time cases set TZ, which Windows file times do not follow (the zone
  # comes from the system); windows_host_test checks local time instead.
  zarvik_test(text_test SOURCES text_test.cpp LIBS host)
  # The spreadsheet readers and the .xlsx export with the static Windows libraries.
  zarvik_test(import_list_test SOURCES import_list_test.cpp LIBS kelvane_core)
  if(WITH_SPREADSHEETS)
    zarvik_test(import_reader_test SOURCES import_reader_test.cpp LIBS kelvane_core
                PkgConfig::XLSXWRITER)
  endif()
  zarvik_test(grid_test SOURCES grid_test.cpp LIBS grid)
  if(NOT WITH_SPREADSHEETS)
    target_compile_definitions(grid_test PRIVATE ZARVIK_WITHOUT_XLSX=1)
  endif()
  # The windows through the scripted Host, on the offscreen platform of the
  # Windows Qt build, with the Win32 host's real file and desktop services.
  if(WITH_GUI)
    zarvik_test(grid_model_test GUI SOURCES grid_model_test.cpp LIBS grid_qt Qt6::Test)
    zarvik_test(busy_test GUI SOURCES busy_test.cpp LIBS host_qt)
    zarvik_test(kelvane_window_test GUI SOURCES kelvane_window_test.cpp LIBS kelvane_gui host Qt6::Test)
    zarvik_test(torrin_window_test GUI SOURCES torrin_window_test.cpp LIBS torrin_gui Qt6::Test)
    zarvik_test(import_window_test GUI SOURCES import_window_test.cpp LIBS kelvane_gui host Qt6::Test)
    if(WITH_SPREADSHEETS)
      target_link_libraries(import_window_test PRIVATE PkgConfig::XLSXWRITER)
      target_compile_definitions(import_window_test PRIVATE KELVANE_TEST_SPREADSHEETS=1)
    endif()
    zarvik_test(truncation_window_test GUI SOURCES truncation_window_test.cpp LIBS kelvane_gui host Qt6::Test)
    zarvik_test(list_clicks_test GUI SOURCES list_clicks_test.cpp LIBS kelvane_gui host Qt6::Test)
    zarvik_test(check_window_test GUI SOURCES check_window_test.cpp LIBS kelvane_gui host Qt6::Test)
    zarvik_test(inventory_window_test GUI SOURCES inventory_window_test.cpp LIBS kelvane_gui Qt6::Test)
    # The copy and the double clicks; the real opener, ShellExecuteW, is given
    # file types of the test's own whose program is the stand-in open_recorder.
    zarvik_test(copy_window_test GUI SOURCES copy_window_test.cpp LIBS kelvane_gui host Qt6::Test)
    add_executable(open_recorder support/open_recorder.c)
    target_link_libraries(open_recorder PRIVATE shell32)
    add_dependencies(copy_window_test open_recorder)
  endif()
  set(compat ${CMAKE_CURRENT_SOURCE_DIR}/support/windows_compat.h)
  target_compile_options(text_test PRIVATE
    $<IF:$<CXX_COMPILER_ID:MSVC>,/FI${compat},SHELL:-include ${compat}>)
  set_property(TEST text_test APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-LocalTime.*")

  # Times are checked at a known offset: UTC+8, the users' zone. wine takes
  # the zone from TZ when it starts; scripts/ci-windows sets the same.
  set_property(TEST windows_host_test windows_torrin_test APPEND PROPERTY ENVIRONMENT
               "TZ=Asia/Shanghai")
  # wine takes the ANSI code page from the locale: zh_CN gives 936, as on the
  # users' systems (where the locale is missing, the code-page test skips).
  set_property(TEST path_rules_test windows_host_test windows_torrin_test check_grid_test
               truncation_test resize_test text_test
               APPEND PROPERTY ENVIRONMENT "LC_ALL=zh_CN.UTF-8")
endif()
