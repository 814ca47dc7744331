# The requester's tests (tests/testbed/mqcmd_*.cpp), included from this
# directory's CMakeLists.txt.

# Pure modules: PCF walk, printed forms, command building, options, the
# completion rule.
tv_add_test(NAME mqcmd_unit_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mqcmd_build_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mqcmd_decode_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mqcmd_replyset_test.cpp
  LIBS mqcmd_lib
  TIMEOUT 120)

# End to end: build/bin/mqcmd against a private stand-in queue manager, with
# responders in the test that use the MQI library directly.
if(NOT WIN32) # needs the Linux mqsim daemon
  tv_add_test(NAME mqcmd_e2e_test
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/mqcmd_e2e_test.cpp
    LIBS mqcmd_lib mqm
    TIMEOUT 300)
  add_dependencies(mqcmd_e2e_test mqcmd mqsim)
endif()
