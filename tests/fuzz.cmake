# Replays the fuzz targets' seeds and kept faulty inputs (tests/fuzz/) in the
# ordinary build, through the same bodies the libFuzzer targets run.
zarvik_test(fuzz_regression_test SOURCES fuzz_regression_test.cpp LIBS kelvane_core torrin_engine)
target_compile_definitions(fuzz_regression_test PRIVATE
  ZARVIK_FUZZ_FOLDER="${CMAKE_CURRENT_SOURCE_DIR}/fuzz")
if(WITH_SPREADSHEETS)
  target_compile_definitions(fuzz_regression_test PRIVATE ZARVIK_FUZZ_SPREADSHEETS=1)
endif()
