# Runs the walk tool on one configuration of the example and compares what it
# prints with a golden file that a person has read.  Standard error must be
# empty: the example's configurations give no warning.  A --diff walk must end
# with status 1 (its configurations differ), any other with 0; Graphviz (DOT,
# when given) must read a --dot walk without a word.
# cmake -DJAVA=... -DLIBRARY_DIR=... -DWALK_JAR=... -DEXAMPLES=... -DCONFIG=LIB/CELL/VIEW
#       -DGOLDEN=file [-DOPTIONS=--json;--depth;2] [-DDOT=/usr/bin/dot] -P walk_golden.cmake
cmake_minimum_required(VERSION 3.19)  # if(IN_LIST), string(JSON)
foreach(var JAVA LIBRARY_DIR WALK_JAR EXAMPLES CONFIG GOLDEN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "walk_golden.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT EXISTS "${GOLDEN}")
  message(FATAL_ERROR "no golden file ${GOLDEN}")
endif()

execute_process(
  COMMAND "${JAVA}" -Xcheck:jni "-Djava.library.path=${LIBRARY_DIR}" -jar "${WALK_JAR}"
          --libs "${EXAMPLES}/kwo.lib" --config "${CONFIG}" ${OPTIONS}
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE status)
# Shown whatever happens, so that a -Xcheck:jni warning reaches ctest's
# FAIL_REGULAR_EXPRESSION.
message("${err}")
set(expected_status 0)
if("--diff" IN_LIST OPTIONS)
  set(expected_status 1)
endif()
if(NOT status EQUAL expected_status)
  message(FATAL_ERROR "the walk of ${CONFIG} ended with status ${status}, not ${expected_status}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "the walk of ${CONFIG} wrote to standard error")
endif()
file(READ "${GOLDEN}" expected)
if(NOT out STREQUAL expected)
  get_filename_component(name "${GOLDEN}" NAME)
  set(actual "${CMAKE_CURRENT_BINARY_DIR}/${name}.actual")
  file(WRITE "${actual}" "${out}")
  execute_process(COMMAND diff -u "${GOLDEN}" "${actual}" OUTPUT_VARIABLE difference)
  message(FATAL_ERROR "the walk of ${CONFIG} differs from ${GOLDEN}:\n${difference}\n(whole output: ${actual})")
endif()

if("--dot" IN_LIST OPTIONS AND DOT)
  execute_process(COMMAND "${DOT}" -Tsvg -o /dev/null "${GOLDEN}"
                  OUTPUT_VARIABLE dot_out ERROR_VARIABLE dot_err RESULT_VARIABLE dot_status)
  if(NOT dot_status EQUAL 0 OR NOT dot_err STREQUAL "")
    message(FATAL_ERROR "Graphviz does not take ${GOLDEN} (status ${dot_status}):\n${dot_err}")
  endif()
endif()
# The JSON forms must parse: the document whole, the lines each (joined into an array).
if("--json" IN_LIST OPTIONS OR "--jsonl" IN_LIST OPTIONS)
  set(json "${out}")
  if("--jsonl" IN_LIST OPTIONS)
    string(REGEX REPLACE "\n$" "" json "${json}")
    string(REPLACE "\n" "," json "[${json}]")
  endif()
  string(JSON length ERROR_VARIABLE json_err LENGTH "${json}")
  if(json_err)
    message(FATAL_ERROR "the walk's JSON does not parse: ${json_err}")
  endif()
endif()
