add_executable(walk_bench walk_bench.cpp tree_generator.cpp)
target_link_libraries(walk_bench PRIVATE kelvane_core)
