# routing_e2e: INQUIRE_Q at 100 to 20,000 queues, 8 requesters of INQUIRE_Q_MGR,
# direct to the stand-in command server
# and through the agent, side by side, and the stop (build/bench/routing_e2e).
if(NOT WIN32 AND TARGET mqm AND TARGET mqcmd_lib AND TARGET torvik) # reads /proc
  tv_add_bench(NAME routing_e2e LIBS mqcmd_lib mqm tv_platform DEPENDS torvik mqsim mqcmd)
endif()
