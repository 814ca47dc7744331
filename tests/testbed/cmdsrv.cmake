# The stand-in command server's and trigger monitor's tests
# (tests/testbed/cmdsrv_*.cpp), included from this directory's CMakeLists.txt.

# Pure parts: command checks, reply building, the trigger message.
tv_add_test(NAME cmdsrv_unit_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_unit_test.cpp
  LIBS mqsim_daemon
  TIMEOUT 120)

if(NOT WIN32) # needs the Linux mqsim daemon
  # End to end: a daemon per test, commands through the MQI library.
  tv_add_test(NAME cmdsrv_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cmdsrv_test.cpp
    LIBS mqm tv_platform mqcmd_lib
    TIMEOUT 300)
  add_dependencies(cmdsrv_test mqsim)
endif()
