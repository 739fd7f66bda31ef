# Builds zel.jar from the classes jar: adds the native library of each
# platform under COM/morvent/zel/native/<platform>/ with the list of those
# platforms, the pom under META-INF/maven, and the manifest.
#   -DJAR_TOOL -DCLASSES -DOUTPUT -DMANIFEST -DPOM -DVERSION -DSTAGE
#   -DNATIVES=platform=file;...   (may be empty)
#   -DSTRIP -DSTRIP_PLATFORM: the strip of this build's own library (may be empty)
#   -DCLASS_VERSION: the class-file version every class must have (52: Java 8)
#   -DCHECK_SO=cmake/check_so.sh -DREADELF -DJNI_HEADERS: each Linux library
#   must pass it (may be empty: the sanitizers' build is not shipped)
file(REMOVE_RECURSE "${STAGE}")

# Every class at the version the jar promises: one class of a later Java stops
# an older JVM with UnsupportedClassVersionError when that class is first used.
set(classes_dir "${STAGE}-classes")
file(REMOVE_RECURSE "${classes_dir}")
file(MAKE_DIRECTORY "${classes_dir}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${CLASSES}" WORKING_DIRECTORY "${classes_dir}"
                RESULT_VARIABLE status)
file(GLOB_RECURSE class_files "${classes_dir}/*.class")
if(NOT status EQUAL 0 OR NOT class_files)
  message(FATAL_ERROR "cannot read the classes of ${CLASSES}")
endif()
foreach(class ${class_files})
  file(READ "${class}" header LIMIT 8 HEX)
  string(SUBSTRING "${header}" 12 4 major)
  math(EXPR major "0x${major}")
  if(NOT major EQUAL CLASS_VERSION)
    file(RELATIVE_PATH name "${classes_dir}" "${class}")
    message(FATAL_ERROR "${name} has class-file version ${major}, not ${CLASS_VERSION}: zel.jar must load on every JVM it promises")
  endif()
endforeach()
file(REMOVE_RECURSE "${classes_dir}")
set(native_dir "${STAGE}/COM/morvent/zel/native")
file(MAKE_DIRECTORY "${native_dir}")
set(platforms "")
foreach(entry ${NATIVES})
  if(NOT entry MATCHES "^([^=]+)=(.+)$")
    message(FATAL_ERROR "a native library is given as PLATFORM=FILE, not '${entry}'")
  endif()
  set(platform "${CMAKE_MATCH_1}")
  set(file "${CMAKE_MATCH_2}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "the native library for ${platform} is missing: ${file}")
  endif()
  # The versioned file of the build (libzelJava_sh.so.1.2.3) under the name a
  # JVM looks for.
  if(CHECK_SO AND platform MATCHES "^linux-")
    execute_process(COMMAND bash "${CHECK_SO}" "${READELF}" "${file}" "${JNI_HEADERS}"
                    OUTPUT_VARIABLE report ERROR_VARIABLE report RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "the ${platform} library cannot ship in zel.jar:\n${report}")
    endif()
  endif()
  get_filename_component(name "${file}" NAME)
  string(REGEX REPLACE "\\.so\\..*$" ".so" name "${name}")
  file(MAKE_DIRECTORY "${native_dir}/${platform}")
  if(STRIP AND name MATCHES "\\.so$" AND platform STREQUAL STRIP_PLATFORM)
    # Debugging information is for the build tree, not for every copy of the
    # jar.  The libraries of other builds come as they ship (this strip may
    # not even read them).
    execute_process(COMMAND "${STRIP}" --strip-debug -o "${native_dir}/${platform}/${name}" "${file}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "strip failed on ${file}")
    endif()
  else()
    file(COPY_FILE "${file}" "${native_dir}/${platform}/${name}")
  endif()
  string(APPEND platforms "${platform}\n")
endforeach()
file(WRITE "${native_dir}/platforms.txt" "${platforms}")

set(maven "${STAGE}/META-INF/maven/com.morvent/zel")
file(MAKE_DIRECTORY "${maven}")
file(COPY_FILE "${POM}" "${maven}/pom.xml")
file(WRITE "${maven}/pom.properties" "groupId=com.morvent\nartifactId=zel\nversion=${VERSION}\n")

file(COPY_FILE "${CLASSES}" "${OUTPUT}.part")
execute_process(COMMAND "${JAR_TOOL}" --update --file "${OUTPUT}.part" --manifest "${MANIFEST}" -C "${STAGE}" .
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}.part")
  message(FATAL_ERROR "jar failed for ${OUTPUT}")
endif()
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
