add_executable(torrin_bench torrin_bench.cpp)
target_link_libraries(torrin_bench PRIVATE torrin_engine)
# What the journal and its flushes cost torrin's first run (starts build/bin/torrin).
add_executable(journal_bench journal_bench.cpp)
target_link_libraries(journal_bench PRIVATE host)
add_dependencies(journal_bench torrin)
