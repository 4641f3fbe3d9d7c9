# The command line's copy against rsync and cp; runs build/bin/kelvane.
add_executable(copy_bench copy_bench.cpp)
target_link_libraries(copy_bench PRIVATE host)
add_dependencies(copy_bench kelvane)
