# mqsim_roundtrip: put/get round trips of 1 KB messages through the stand-in
# MQI library and daemon, on one and on four connections (build/bench/).
if(TARGET mqm AND TARGET mqsim)
  add_executable(mqsim_roundtrip ${CMAKE_CURRENT_LIST_DIR}/mqsim_roundtrip.cpp)
  target_link_libraries(mqsim_roundtrip PRIVATE mqm tv_platform benchmark::benchmark)
  target_include_directories(mqsim_roundtrip PRIVATE ${PROJECT_SOURCE_DIR}/src
                             ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(mqsim_roundtrip PRIVATE
    TV_BIN_DIR="${CMAKE_BINARY_DIR}/bin" TV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(mqsim_roundtrip PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_dependencies(mqsim_roundtrip mqsim)
endif()
