# End-to-end robustness: seeded random and lying messages on TORVIK's input
# and reply queues, against a running agent and stand-in queue manager.
tv_add_test(NAME routing_robustness_test
  SOURCES robustness_e2e_test.cpp
  LIBS mqm tv_platform tv_headers
  TIMEOUT 300)
add_dependencies(routing_robustness_test torvik mqsim mqcmd mqm)

# Regression tests of consolidation for what the robustness tests found:
# replies of one request in different formats.
tv_add_test(NAME routing_formats_test
  SOURCES consolidate_formats_test.cpp
  LIBS torvik_lib)
