# cmdserver_direct: INQUIRE_Q of 5000 queues answered by the stand-in command
# server, drained by a requester (build/bench/cmdserver_direct).
if(TARGET mqm AND TARGET mqcmd_lib)
  add_executable(cmdserver_direct ${CMAKE_CURRENT_LIST_DIR}/cmdserver_direct.cpp)
  target_link_libraries(cmdserver_direct PRIVATE mqcmd_lib mqm tv_platform benchmark::benchmark)
  target_compile_definitions(cmdserver_direct PRIVATE TV_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  set_target_properties(cmdserver_direct PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
