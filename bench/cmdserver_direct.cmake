# cmdserver_direct: INQUIRE_Q of 5000 queues answered by the stand-in command
# server, drained by a requester (build/bench/cmdserver_direct).
if(TARGET mqm AND TARGET mqcmd_lib)
  tv_add_bench(NAME cmdserver_direct LIBS mqcmd_lib mqm tv_platform)
endif()
