# Runs on several workers against runs on one, with copies completing out of order.
zarvik_test(parallel_copy_test SOURCES parallel_copy_test.cpp LIBS kelvane_core torrin_engine)
