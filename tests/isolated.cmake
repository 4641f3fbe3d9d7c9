# Running code in a child process so that its crashes become failures.
zarvik_test(isolated_test SOURCES isolated_test.cpp LIBS host)
