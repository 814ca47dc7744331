# certcmd_display: DISPLAY CERT of 200 certificates through the agent, split
# into the key tool's runs and the agent's own work (build/bench/certcmd_display).
if(TARGET mqm AND TARGET mqcmd_lib AND TARGET torvik AND TARGET runmqakm)
  tv_add_bench(NAME certcmd_display LIBS torvik_lib mqcmd_lib mqm tv_platform
    DEPENDS torvik mqsim mqcmd runmqakm)
endif()
