# Peak memory of kelvane check per listed row beside rsync's; runs
# build/bin/kelvane and, when built, build/bin/window_bench.
add_executable(memory_bench memory_bench.cpp tree_generator.cpp)
target_link_libraries(memory_bench PRIVATE host)
add_dependencies(memory_bench kelvane)
if(WITH_GUI)
  add_dependencies(memory_bench window_bench)
endif()
