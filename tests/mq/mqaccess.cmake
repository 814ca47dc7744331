# Tests of the MQ access modules (src/mq: loader, connection, queues and
# puts, handle cache) and of the agent-core modules that drive them
# (src/core: worker pool, main loop), and the end-to-end tests of the agent
# against the stand-in queue manager. Included from tests/mq/CMakeLists.txt.

# Small MQI libraries for the loader's tests, one directory per variant,
# laid out as an installation: <variant>/<libdir>/<library name>.
set(_fakemq_dir ${CMAKE_BINARY_DIR}/tests/fakemq)
if(WIN32)
  set(_fakemq_libdir bin64)
else()
  set(_fakemq_libdir lib64)
endif()
foreach(_variant full noopen noclose)
  set(_target mqaccess_fakelib_${_variant})
  add_library(${_target} MODULE ${CMAKE_CURRENT_LIST_DIR}/mqaccess_fakelib.cpp)
  target_link_libraries(${_target} PRIVATE tv_headers)
  if(_variant STREQUAL "noopen")
    target_compile_definitions(${_target} PRIVATE FAKELIB_NO_OPEN)
  elseif(_variant STREQUAL "noclose")
    target_compile_definitions(${_target} PRIVATE FAKELIB_NO_CLOSE)
  endif()
  if(WIN32)
    set_target_properties(${_target} PROPERTIES PREFIX "" OUTPUT_NAME mqm
      WINDOWS_EXPORT_ALL_SYMBOLS ON)
  else()
    set_target_properties(${_target} PROPERTIES OUTPUT_NAME mqm_r)
  endif()
  set_target_properties(${_target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${_fakemq_dir}/${_variant}/${_fakemq_libdir}
    RUNTIME_OUTPUT_DIRECTORY ${_fakemq_dir}/${_variant}/${_fakemq_libdir})
endforeach()

tv_add_test(NAME mqaccess_load_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mqaccess_load_test.cpp
  LIBS torvik_lib)
target_compile_definitions(mqaccess_load_test PRIVATE FAKEMQ_DIR="${_fakemq_dir}")
add_dependencies(mqaccess_load_test
  mqaccess_fakelib_full mqaccess_fakelib_noopen mqaccess_fakelib_noclose)

tv_add_test(NAME mqaccess_cache_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mqaccess_cache_test.cpp
  LIBS torvik_lib)

tv_add_test(NAME mqaccess_puts_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mqaccess_puts_test.cpp
  LIBS torvik_lib)

tv_add_test(NAME workers_test
  SOURCES ${PROJECT_SOURCE_DIR}/tests/core/workers_test.cpp
  LIBS torvik_lib)

tv_add_test(NAME mainloop_test
  SOURCES ${PROJECT_SOURCE_DIR}/tests/core/mainloop_test.cpp
  LIBS torvik_lib)

# End to end: torvik against mqsim, driven by mqcmd. The programs are built
# first so that the test finds them in build/bin and build/lib.
# needs the Linux mqsim daemon
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/mqaccess_e2e_test.cpp AND NOT WIN32)
  tv_add_test(NAME mqaccess_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mqaccess_e2e_test.cpp
    LIBS torvik_lib
    TIMEOUT 240)
  foreach(_program torvik mqsim mqcmd mqm)
    if(TARGET ${_program})
      add_dependencies(mqaccess_e2e_test ${_program})
    endif()
  endforeach()
endif()
