# Whole journeys of both programs against find, cp and rsync; runs build/bin/kelvane
# and build/bin/torrin.
add_executable(journeys_bench journeys_bench.cpp tree_generator.cpp)
target_link_libraries(journeys_bench PRIVATE host)
add_dependencies(journeys_bench kelvane torrin)
