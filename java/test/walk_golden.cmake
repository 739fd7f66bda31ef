# Runs the walk tool on one configuration of the example and compares what it
# prints with a golden file that a person has read.  Standard error must be
# empty: the example's configurations give no warning.
# cmake -DJAVA=... -DLIBRARY_DIR=... -DWALK_JAR=... -DEXAMPLES=... -DCONFIG=LIB/CELL/VIEW
#       -DGOLDEN=file [-DOPTIONS=--json;--depth;2] -P walk_golden.cmake
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
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the walk of ${CONFIG} ended with status ${status}")
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
