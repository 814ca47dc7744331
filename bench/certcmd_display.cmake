# certcmd_display: DISPLAY CERT of 200 certificates through the agent, split
# into the key tool's runs and the agent's own work (build/bench/certcmd_display).
if(TARGET mqm AND TARGET mqcmd_lib AND TARGET torvik AND TARGET runmqakm)
  add_executable(certcmd_display ${CMAKE_CURRENT_LIST_DIR}/certcmd_display.cpp)
  target_link_libraries(certcmd_display PRIVATE torvik_lib mqcmd_lib mqm tv_platform
    benchmark::benchmark)
  target_compile_definitions(certcmd_display PRIVATE
    TV_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    TV_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    TV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(certcmd_display torvik mqsim mqcmd runmqakm)
  set_target_properties(certcmd_display PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
