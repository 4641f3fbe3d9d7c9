add_executable(torrin_bench torrin_bench.cpp)
target_link_libraries(torrin_bench PRIVATE torrin_engine)
# What the journal and its flushes cost torrin's first run (starts build/bin/torrin).
add_executable(journal_bench journal_bench.cpp)
target_link_libraries(journal_bench PRIVATE host)
add_dependencies(journal_bench torrin)
# torrin's incremental run (the program) against fd and find with cp (fd-find
# from scripts/bench).
add_executable(incremental_bench incremental_bench.cpp tree_generator.cpp)
target_link_libraries(incremental_bench PRIVATE host)
add_dependencies(incremental_bench torrin)
