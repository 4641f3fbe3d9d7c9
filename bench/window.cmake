# kelvane's window with lists of a million rows: sort, filter, jump, and one
# "开始核对" on two folders for memory_bench.
if(WITH_GUI)
  add_executable(window_bench window_bench.cpp tree_generator.cpp)
  target_link_libraries(window_bench PRIVATE kelvane_gui)
endif()
