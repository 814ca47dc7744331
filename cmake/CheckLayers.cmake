# CheckLayers.cmake -- fail when a file of SRC_DIR includes a header of a
# module above its own (the order is cmake/Layers.cmake's).
#   cmake -DSRC_DIR=<dir> [-DSTAMP=<file>] -P CheckLayers.cmake
# Writes STAMP when every include goes down the line or stays in its module.
include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

if(NOT SRC_DIR)
  message(FATAL_ERROR "CheckLayers: SRC_DIR not given")
endif()

# tv_layer_of(<path relative to SRC_DIR> <rank var> <module var>): empty
# module when no entry matches.
function(tv_layer_of path rankVar moduleVar)
  foreach(entry IN LISTS TV_LAYERS)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 rank)
    list(GET parts 1 module)
    list(GET parts 2 patterns)
    string(REPLACE "," ";" patterns "${patterns}")
    foreach(pattern IN LISTS patterns)
      string(REPLACE "." "\\." regex "${pattern}")
      string(REPLACE "*" "[^/]*" regex "${regex}")
      if(path MATCHES "^${regex}$")
        set(${rankVar} ${rank} PARENT_SCOPE)
        set(${moduleVar} ${module} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${rankVar} "" PARENT_SCOPE)
  set(${moduleVar} "" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE ${SRC_DIR} ${SRC_DIR}/*.h ${SRC_DIR}/*.cpp ${SRC_DIR}/*.inc)
set(faults "")
foreach(file IN LISTS files)
  if(file MATCHES "^mqconst/gen/")
    continue() # the generator runs at build time; it is no part of the program
  endif()
  tv_layer_of(${file} rank module)
  if(module STREQUAL "")
    string(APPEND faults "  ${file}: in no layer (add it to cmake/Layers.cmake)\n")
    continue()
  endif()
  file(STRINGS ${SRC_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" included "${line}")
    if(NOT EXISTS ${SRC_DIR}/${included})
      continue() # a generated or local file, not a module header
    endif()
    tv_layer_of(${included} incRank incModule)
    if(incModule STREQUAL module)
      continue()
    endif()
    if(incModule STREQUAL "" OR NOT incRank LESS rank)
      string(APPEND faults
        "  ${file} (${module}) includes ${included} (${incModule}), which is not below it\n")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Layer order broken:\n${faults}")
endif()
if(STAMP)
  file(WRITE ${STAMP} "layers checked\n")
endif()
