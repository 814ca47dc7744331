# agent_load: 20 requesters sending a mix of PCF, MQSC and escape requests
# through the agent for a while, with random faults injected; nothing lost,
# nothing twice, memory flat (build/bench/agent_load [SECONDS]; scripts/load).
if(NOT WIN32 AND TARGET mqm AND TARGET mqcmd_lib AND TARGET torvik) # reads /proc
  tv_add_bench(NAME agent_load LIBS mqcmd_lib mqm tv_platform DEPENDS torvik mqsim)
endif()
