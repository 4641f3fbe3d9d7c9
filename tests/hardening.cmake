# Hostile trees, failing disks and killed copies, on real folders (some parts
# run as "nobody" or on a small tmpfs when the tests run as root).
zarvik_test(hardening_trees_test SOURCES hardening_trees_test.cpp LIBS kelvane_core torrin_engine)
# Links and hostile trees, also with the target's folders reached part by part.
zarvik_without_openat2_run(hardening_trees_test)
zarvik_test(hardening_disk_test SOURCES hardening_disk_test.cpp LIBS kelvane_core torrin_engine)
target_compile_definitions(hardening_disk_test PRIVATE TORRIN_PROGRAM="$<TARGET_FILE:torrin>")
add_dependencies(hardening_disk_test torrin)
zarvik_test(hardening_kill_test SOURCES hardening_kill_test.cpp LIBS kelvane_core torrin_engine)
target_compile_definitions(hardening_kill_test PRIVATE KELVANE_PROGRAM="$<TARGET_FILE:kelvane>")
add_dependencies(hardening_kill_test kelvane)
# The same killed copies through the named temporary files of FAT, shares and Windows.
zarvik_named_temporaries_run(hardening_kill_test)
if(zarvik_sanitize STREQUAL "thread")
  # ThreadSanitizer's instrumentation enlarges every frame, so the deep-tree
  # cases overflow the 1 MB stack they prove enough for the plain build (and
  # under ASan); the other cases still run.
  set_property(TEST hardening_trees_test hardening_trees_test_without_openat2
               APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-DeepTree.*OnASmallStack")
endif()
# Power cuts: file systems shut down without writing their logs at random
# moments of torrin's and kelvane's runs, mounted again, and the runs made
# again (as root, on loop images).
zarvik_test(power_cut_test SOURCES power_cut_test.cpp LIBS host)
target_compile_definitions(power_cut_test PRIVATE TORRIN_PROGRAM="$<TARGET_FILE:torrin>"
                                                  KELVANE_PROGRAM="$<TARGET_FILE:kelvane>")
add_dependencies(power_cut_test torrin kelvane)
# A hundred cuts, each with its runs, beside the other tests.
set_tests_properties(power_cut_test PROPERTIES TIMEOUT 1500)
