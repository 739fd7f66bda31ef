# Walks one configuration of the example twice, through Java and the bridge
# and in C++ straight through the library, and requires both walks to see the
# same answers: every binding query, stop and count folds into the checksum
# line that each prints.
# cmake -DJAVA=... -DLIBRARY_DIR=... -DJAVA_WALK_JAR=... -DCPP_WALK=... -DEXAMPLES=... -DCONFIG=LIB/CELL/VIEW
#       -P same_walk.cmake
foreach(var JAVA LIBRARY_DIR JAVA_WALK_JAR CPP_WALK EXAMPLES CONFIG)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "same_walk.cmake needs -D${var}=...")
  endif()
endforeach()

function(checksum_of out_var)
  execute_process(COMMAND ${ARGN} --libs "${EXAMPLES}/kwo.lib" --config "${CONFIG}" --runs 1
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  # Shown whatever happens, so that a -Xcheck:jni warning reaches ctest's
  # FAIL_REGULAR_EXPRESSION.
  message("${err}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGV1} ended with status ${status}:\n${out}")
  endif()
  string(REGEX MATCH "checksum: [^\n]*" line "${out}")
  if(line STREQUAL "")
    message(FATAL_ERROR "${ARGV1} printed no checksum:\n${out}")
  endif()
  set(${out_var} "${line}" PARENT_SCOPE)
endfunction()

checksum_of(cpp "${CPP_WALK}")
checksum_of(java "${JAVA}" -Xcheck:jni "-Djava.library.path=${LIBRARY_DIR}" -jar "${JAVA_WALK_JAR}")
if(NOT cpp STREQUAL java)
  message(FATAL_ERROR "the walks of ${CONFIG} differ:\n  C++:  ${cpp}\n  Java: ${java}")
endif()
message("${CONFIG}: ${java}")
