# routing_consolidate: CompressReply + CoalesceReply and the whole reply
# consumer per reply, beside memcpy of the same bytes
# (build/bench/routing_consolidate).
add_executable(routing_consolidate ${CMAKE_CURRENT_LIST_DIR}/routing_consolidate.cpp)
target_link_libraries(routing_consolidate PRIVATE torvik_lib benchmark::benchmark)
set_target_properties(routing_consolidate PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
