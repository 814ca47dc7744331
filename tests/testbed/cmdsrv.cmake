# The stand-in command server's and trigger monitor's tests
# (tests/testbed/cmdsrv_*.cpp), included from this directory's CMakeLists.txt.

# Pure parts: command checks, reply building, attribute tables, the trigger
# message.
tv_add_test(NAME cmdsrv_unit_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_unit_test.cpp
  LIBS mqsim_daemon mqcmd_lib
  TIMEOUT 120)

# The program the trigger monitor starts in the trigger test: it writes the
# fields of its trigger message to the file named by the process's USERDATA.
if(NOT WIN32) # needs the Linux mqsim daemon
  add_executable(cmdsrv_trigger_child ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_trigger_child.cpp)
  set_target_properties(cmdsrv_trigger_child PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

  # End to end: a daemon per test, commands through the MQI library and mqcmd.
  tv_add_test(NAME cmdsrv_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_pcf_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_control_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_zos_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_trigger_test.cpp
    LIBS mqm tv_platform mqcmd_lib
    TIMEOUT 300)
  target_compile_definitions(cmdsrv_test PRIVATE
    CMDSRV_TRIGGER_CHILD="$<TARGET_FILE:cmdsrv_trigger_child>")
  add_dependencies(cmdsrv_test mqsim cmdsrv_trigger_child)
  if(TARGET mqcmd)
    add_dependencies(cmdsrv_test mqcmd)
  endif()
endif()
