# expr_eval: WHERE filter evaluation per certificate for typical filters
# (build/bench/expr_eval).
tv_add_bench(NAME expr_eval LIBS torvik_lib)
