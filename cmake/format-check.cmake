cmake_minimum_required(VERSION 3.16)
# Fails when clang-format (with the .clang-format at the root) would change any
# C++ file of the tree, and names the files.
#   cmake -DROOT=<source folder> -DCLANG_FORMAT=<clang-format> -P format-check.cmake
if(NOT ROOT OR NOT CLANG_FORMAT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source folder> -DCLANG_FORMAT=<clang-format> -P format-check.cmake")
endif()
set(files)
foreach(folder src tools tests bench fuzz)
  file(GLOB_RECURSE found ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
  list(APPEND files ${found})
endforeach()
list(LENGTH files count)
# One run over every file; its complaints name the files ("<file>:<line>:<col>: error: ...").
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${files}
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE complaints)
if(NOT status EQUAL 0)
  string(REGEX MATCHALL "[^\n]*:[0-9]+:[0-9]+: error:" lines "${complaints}")
  set(unformatted)
  foreach(line ${lines})
    string(REGEX REPLACE ":[0-9]+:[0-9]+: error:$" "" file "${line}")
    file(RELATIVE_PATH relative ${ROOT} ${file})
    list(APPEND unformatted ${relative})
  endforeach()
  list(REMOVE_DUPLICATES unformatted)
  list(JOIN unformatted "\n  " listed)
  message(FATAL_ERROR "clang-format would change these files (run clang-format -i on them):\n  ${listed}")
endif()
message("${count} C++ files as clang-format leaves them")
