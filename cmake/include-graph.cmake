cmake_minimum_required(VERSION 3.16)
# Prints which folders of src/ include which, and fails on any arrow that is
# not in the allowed list below, so the layers keep pointing one way.
#   cmake -DSRC=<src folder> -P include-graph.cmake
#
# The layers, bottom up: util, manifest and settings know nothing above them;
# trust (signed releases: the document, its keys, the acceptance rule and the
# listing the workers consult) builds on them and on the global names; the
# workers (download, verify, unzip, patch) and the planners build on all of it.
# core holds the registry, the shared context and the records: its components
# forward to the workers, and the workers take their context from the registry,
# which is the one cycle the design keeps. blocks (block delivery) is a worker
# whose facade lives in core; it takes its job from the host, not from the
# context, so it needs nothing of core, only the layers below (trust among them)
# and the download subsystem's request settings. Headers directly in
# src/ (the export macro) may be included from anywhere.
set(allowed
  "blocks -> download" "blocks -> manifest" "blocks -> trust" "blocks -> util"
  "core -> blocks" "core -> download" "core -> patch" "core -> settings" "core -> unzip" "core -> util" "core -> verify"
  "download -> core" "download -> trust" "download -> util"
  "patch -> core" "patch -> manifest" "patch -> trust" "patch -> util"
  "planning -> core" "planning -> manifest" "planning -> settings" "planning -> trust" "planning -> util"
  "planning -> verify"
  "settings -> util"
  "trust -> core" "trust -> manifest" "trust -> util"
  "unzip -> core" "unzip -> util"
  "verify -> core" "verify -> manifest" "verify -> trust" "verify -> util")

if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P include-graph.cmake")
endif()

file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
set(arrows)
set(refused)
foreach(file ${files})
  string(FIND "${file}" "/" slash)
  if(slash LESS 0)
    continue() # a header of the top folder
  endif()
  string(SUBSTRING "${file}" 0 ${slash} from)
  file(STRINGS ${SRC}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    if(NOT line MATCHES "\"([^/\"]+)/[^\"]*\"")
      continue() # same folder or top folder
    endif()
    set(to ${CMAKE_MATCH_1})
    if(to STREQUAL from)
      continue()
    endif()
    set(arrow "${from} -> ${to}")
    list(APPEND arrows "${arrow}")
    if(NOT arrow IN_LIST allowed)
      string(STRIP "${line}" line)
      list(APPEND refused "${file}: ${line}")
    endif()
  endforeach()
endforeach()

list(SORT arrows)
set(distinct ${arrows})
list(REMOVE_DUPLICATES distinct)
list(LENGTH distinct count)
message("include graph of src/ (${count} arrows, includes per arrow):")
foreach(arrow ${distinct})
  set(n 0)
  foreach(a ${arrows})
    if(a STREQUAL arrow)
      math(EXPR n "${n} + 1")
    endif()
  endforeach()
  message("  ${arrow} (${n})")
endforeach()

if(refused)
  list(JOIN refused "\n  " text)
  message(FATAL_ERROR "includes outside the allowed layers:\n  ${text}")
endif()
