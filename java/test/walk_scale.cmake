# Walks a generated design of some 56,000 instances with the walk tool in a
# 16 MB heap, in the brief tree and as a summary, and requires both to count
# the instances that the walk benchmark's Java walk counts in the same design.
# A tool that held the walk before printing it would run out of memory.  The
# summary is the same when the tool binds one instance at a time (the
# benchmark's checksum is the same when it does, with --per-instance).
# cmake -DJAVA=... -DLIBRARY_DIR=... -DWALK_JAR=... -DJAVA_WALK_JAR=... -DGEN=zel_walk_gen -DDIR=...
#       -P walk_scale.cmake
set(ONE_BY_ONE zel.walk.oneByOne)
foreach(var JAVA LIBRARY_DIR WALK_JAR JAVA_WALK_JAR GEN DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "walk_scale.cmake needs -D${var}=...")
  endif()
endforeach()

set(design "${DIR}/design")
if(NOT EXISTS "${design}/.complete")
  file(REMOVE_RECURSE "${design}")
  execute_process(COMMAND "${GEN}" --instances 6 "${design}" RESULT_VARIABLE status OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "zel_walk_gen ended with status ${status}")
  endif()
endif()

function(walk out_var)
  execute_process(COMMAND "${JAVA}" -Xmx16m "-Djava.library.path=${LIBRARY_DIR}" ${ARGN}
                          --libs "${design}/kwo.lib" --config wdesign/top/config
                  OUTPUT_FILE "${DIR}/out.txt" ERROR_VARIABLE err RESULT_VARIABLE status)
  message("${err}")
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${ARGN} ended with status ${status}")
  endif()
  file(READ "${DIR}/out.txt" out)
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

walk(bench -jar "${JAVA_WALK_JAR}" --runs 1)
string(REGEX MATCH "checksum: instances=([0-9]+)" found "${bench}")
set(expected "${CMAKE_MATCH_1}")
if(expected STREQUAL "" OR expected LESS 50000)
  message(FATAL_ERROR "the benchmark's walk counted no more than '${expected}' instances:\n${bench}")
endif()

walk(summary -jar "${WALK_JAR}" --summary)
string(REGEX MATCH "\n([0-9,]+) instances, " found "${summary}")
string(REPLACE "," "" counted "${CMAKE_MATCH_1}")
if(NOT counted STREQUAL expected)
  message(FATAL_ERROR "the summary counts '${counted}' instances, the benchmark's walk ${expected}:\n${summary}")
endif()

walk(tree -jar "${WALK_JAR}")
file(STRINGS "${DIR}/out.txt" lines REGEX "^[| ]*[+`]- ")
list(LENGTH lines counted)
if(NOT counted EQUAL expected)
  message(FATAL_ERROR "the tree has ${counted} instance lines, the benchmark's walk counted ${expected}")
endif()
message("${expected} instances, in the tree and the summary alike")

walk(oneByOne "-D${ONE_BY_ONE}=true" -jar "${WALK_JAR}" --summary)
if(NOT oneByOne STREQUAL summary)
  message(FATAL_ERROR "the summary differs when the tool binds one instance at a time:\n${summary}\n---\n${oneByOne}")
endif()
walk(perInstance -jar "${JAVA_WALK_JAR}" --runs 1 --per-instance)
string(REGEX MATCH "checksum: [^\n]*" a "${bench}")
string(REGEX MATCH "checksum: [^\n]*" b "${perInstance}")
if(NOT a STREQUAL b)
  message(FATAL_ERROR "the benchmark's walk by levels and one by one differ:\n  ${a}\n  ${b}")
endif()
message("the same summary and checksum one instance at a time")
