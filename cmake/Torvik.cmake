# Helpers shared by every CMakeLists.txt of the project.

# tv_add_subdirs(): add every direct subdirectory of the current source
# directory that holds a CMakeLists.txt, so that a new module needs no edit
# of its parent.
function(tv_add_subdirs)
  file(GLOB _children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _children)
  foreach(_child IN LISTS _children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()

# tv_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# A GoogleTest executable in build/tests, its cases registered with CTest.
# End-to-end tests find the programs through TV_BIN_DIR, TV_LIB_DIR and
# TV_SOURCE_DIR, and write only below their own temporary directories.
function(tv_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    TV_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    TV_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    TV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
