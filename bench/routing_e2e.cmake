# routing_e2e: INQUIRE_Q at 100 to 20,000 queues, 8 requesters of INQUIRE_Q_MGR,
# direct to the stand-in command server
# and through the agent, side by side, and the stop (build/bench/routing_e2e).
if(NOT WIN32 AND TARGET mqm AND TARGET mqcmd_lib AND TARGET torvik) # reads /proc
  add_executable(routing_e2e ${CMAKE_CURRENT_LIST_DIR}/routing_e2e.cpp)
  target_link_libraries(routing_e2e PRIVATE mqcmd_lib mqm tv_platform benchmark::benchmark)
  target_compile_definitions(routing_e2e PRIVATE
    TV_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    TV_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    TV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(routing_e2e torvik mqsim mqcmd)
  set_target_properties(routing_e2e PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
