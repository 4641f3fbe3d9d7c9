# The program's temporary files against a user's files of the same shapes, on
# tmpfs, ext4 and FAT (loop and FUSE mounts when the tests run as root), once
# with nameless temporary files and once with named ones.
zarvik_test(lookalike_names_test SOURCES lookalike_names_test.cpp LIBS kelvane_core torrin_engine)
target_compile_definitions(lookalike_names_test PRIVATE KELVANE_PROGRAM="$<TARGET_FILE:kelvane>")
add_dependencies(lookalike_names_test kelvane)
zarvik_named_temporaries_run(lookalike_names_test)
