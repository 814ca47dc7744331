# expr_eval: WHERE filter evaluation per certificate for typical filters
# (build/bench/expr_eval).
add_executable(expr_eval ${CMAKE_CURRENT_LIST_DIR}/expr_eval.cpp)
target_link_libraries(expr_eval PRIVATE torvik_lib benchmark::benchmark)
set_target_properties(expr_eval PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
