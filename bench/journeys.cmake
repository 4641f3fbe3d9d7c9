# Whole journeys of both programs against find, cp and rsync; runs build/bin/kelvane
# and build/bin/torrin.
add_executable(journeys_bench journeys_bench.cpp tree_generator.cpp)
add_dependencies(journeys_bench kelvane torrin)
