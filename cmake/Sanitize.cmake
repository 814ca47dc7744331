# Sanitizer builds (scripts/test --asan / --tsan) and the fuzz targets
# (scripts/fuzz). The flags apply to every target of the tree, whatever
# libraries the modules define, so they are set here once, before any
# subdirectory is added.
#
#   TORVIK_SANITIZE=address  AddressSanitizer + UndefinedBehaviorSanitizer
#                            (LeakSanitizer comes with ASan)
#   TORVIK_SANITIZE=thread   ThreadSanitizer
#   TORVIK_FUZZ=ON           also builds tests/fuzz with clang's libFuzzer
#
# Every finding ends the process (-fno-sanitize-recover=all): a report is
# never followed by exit code 0.

if(TORVIK_SANITIZE STREQUAL "address")
  set(_tv_san -fsanitize=address,undefined)
elseif(TORVIK_SANITIZE STREQUAL "thread")
  set(_tv_san -fsanitize=thread)
elseif(NOT TORVIK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TORVIK_SANITIZE must be address, thread or empty, not '${TORVIK_SANITIZE}'")
endif()

if(TORVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TORVIK_FUZZ needs clang (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT _tv_san)
    set(_tv_san -fsanitize=address,undefined)
  endif()
  # Every object gets the coverage hooks; only the fuzz targets link the
  # fuzzer's main (tv_add_fuzz_target).
  list(APPEND _tv_san -fsanitize=fuzzer-no-link)
endif()

if(_tv_san)
  # -O1 -g1 rather than -O2 -g: about 40% of the compile time under the
  # sanitizers (the large end-to-end test files above all), with stack
  # traces still at line precision.
  foreach(_lang C CXX)
    string(REGEX REPLACE "-O[23s]" "-O1" CMAKE_${_lang}_FLAGS_RELWITHDEBINFO
      "${CMAKE_${_lang}_FLAGS_RELWITHDEBINFO}")
    string(REGEX REPLACE "(^| )-g( |$)" "\\1-g1\\2" CMAKE_${_lang}_FLAGS_RELWITHDEBINFO
      "${CMAKE_${_lang}_FLAGS_RELWITHDEBINFO}")
  endforeach()
  add_compile_options(${_tv_san} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(${_tv_san} -fno-sanitize-recover=all)
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _tv_unsanitized_targets)
endif()

# Targets compiled without instrumentation (still linked with the runtimes):
#   mqi_test  compares the MQI declarations with IBM's published data in
#             about 5,600 generated checks; nothing runs there that a
#             sanitizer could check, and instrumenting them takes the
#             compiler more than 20 minutes.
function(_tv_unsanitized_targets)
  foreach(_t mqi_test)
    if(TARGET ${_t})
      target_compile_options(${_t} PRIVATE -fno-sanitize=all)
    endif()
  endforeach()
endfunction()

# tv_add_fuzz_target(NAME name SOURCES ... [LIBS ...])
# A libFuzzer target tests/fuzz/<name>: its sources define
# LLVMFuzzerTestOneInput; its seed corpus is tests/fuzz/corpus/<name>/.
#   TORVIK_FUZZ=ON: build/fuzz/fuzz_<name>, the fuzzer (scripts/fuzz runs it).
#   Always (Linux): build/fuzz/replay_<name>, the same entry point fed each
#   file of the corpus once by replay_main.cpp, registered with CTest as
#   fuzz_corpus_<name>, so every input kept there (every crash found and
#   fixed) is run by the ordinary test suite.
function(tv_add_fuzz_target)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  set(_dir ${CMAKE_CURRENT_SOURCE_DIR})
  set(_corpus ${_dir}/corpus/${F_NAME})
  file(GLOB _inputs CONFIGURE_DEPENDS ${_corpus}/*)
  list(SORT _inputs)
  if(NOT _inputs)
    message(FATAL_ERROR "fuzz target ${F_NAME}: no seed corpus in ${_corpus}")
  endif()
  set(_common PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR})

  add_executable(replay_${F_NAME} ${F_SOURCES} ${_dir}/replay_main.cpp)
  target_link_libraries(replay_${F_NAME} PRIVATE ${F_LIBS})
  target_include_directories(replay_${F_NAME} ${_common})
  set_target_properties(replay_${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_test(NAME fuzz_corpus_${F_NAME} COMMAND replay_${F_NAME} ${_inputs})
  set_tests_properties(fuzz_corpus_${F_NAME} PROPERTIES TIMEOUT 300 LABELS fuzz)

  if(TORVIK_FUZZ)
    add_executable(fuzz_${F_NAME} ${F_SOURCES})
    target_link_libraries(fuzz_${F_NAME} PRIVATE ${F_LIBS})
    target_include_directories(fuzz_${F_NAME} ${_common})
    target_link_options(fuzz_${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(fuzz_${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endif()
endfunction()
