# The runmqakm stand-in's own tests, where it is built.
if(TARGET runmqakm AND NOT WIN32)
  tv_add_test(NAME runmqakm_test SOURCES runmqakm_test.cpp LIBS torvik_lib)
  add_dependencies(runmqakm_test runmqakm)
endif()
