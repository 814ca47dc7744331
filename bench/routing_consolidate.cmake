# routing_consolidate: CompressReply + CoalesceReply and the whole reply
# consumer per reply, beside memcpy of the same bytes
# (build/bench/routing_consolidate).
tv_add_bench(NAME routing_consolidate LIBS torvik_lib)
