# agent_load: 20 requesters sending a mix of PCF, MQSC and escape requests
# through the agent for a while, with random faults injected; nothing lost,
# nothing twice, memory flat (build/bench/agent_load [SECONDS]; scripts/load).
if(NOT WIN32 AND TARGET mqm AND TARGET mqcmd_lib AND TARGET torvik) # reads /proc
  add_executable(agent_load ${CMAKE_CURRENT_LIST_DIR}/agent_load.cpp)
  target_link_libraries(agent_load PRIVATE mqcmd_lib mqm tv_platform benchmark::benchmark)
  target_compile_definitions(agent_load PRIVATE
    TV_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    TV_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    TV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(agent_load torvik mqsim)
  set_target_properties(agent_load PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
