# Runs on several workers against runs on one, with copies completing out of order.
zarvik_test(parallel_copy_test SOURCES parallel_copy_test.cpp LIBS kelvane_core torrin_engine)
# Copies meeting at one file: names a stick takes for one (tmp, FAT and exFAT
# through FUSE), a link inside the target, two programs copying at once.
zarvik_test(meeting_copies_test SOURCES meeting_copies_test.cpp LIBS kelvane_core torrin_engine)
target_compile_definitions(meeting_copies_test PRIVATE KELVANE_PROGRAM="$<TARGET_FILE:kelvane>")
add_dependencies(meeting_copies_test kelvane)
# The ordered work and the read-ahead on their own, with failures and early ends.
zarvik_test(ordered_work_test SOURCES ordered_work_test.cpp LIBS common torrin_engine)
