# This build's programs beside another build's (--baseline DIR), with the tools,
# on one tree: torrin's first and incremental runs and kelvane check --copy.
add_executable(builds_bench builds_bench.cpp tree_generator.cpp)
target_link_libraries(builds_bench PRIVATE host)
add_dependencies(builds_bench kelvane torrin)
