# add_junit_suite(NAME <name> SOURCES <java files...> | TESTS_OF <suite> CLASSPATH <jars...>
#                 [ENVIRONMENT <VAR=value...>] [LABELS <labels...>] [FIXTURES <fixtures...>] [JVM_ARGS <args...>])
# Compiles the test classes into a jar and registers one CTest test that runs them with the
# JUnit 5 console launcher on the real JVM; TESTS_OF runs the jar of an earlier suite again. Native libraries of this build are found through
# java.library.path = the build's library folders (passed in ENVIRONMENT by the caller).
if(WIN32)
  function(add_junit_suite)
  endfunction()
  return()
endif()
find_package(Java 17 REQUIRED COMPONENTS Runtime Development)
include(UseJava)
set(JUNIT_STANDALONE_JAR /usr/share/java/junit-platform-console-standalone.jar CACHE FILEPATH "JUnit 5 console launcher")

function(add_junit_suite)
  cmake_parse_arguments(J "" "NAME;TESTS_OF" "SOURCES;CLASSPATH;ENVIRONMENT;LABELS;FIXTURES;JVM_ARGS;DEPENDS" ${ARGN})
  if(J_TESTS_OF)
    get_target_property(test_jar ${J_TESTS_OF}_tests JAR_FILE)
  else()
    add_jar(${J_NAME}_tests SOURCES ${J_SOURCES} INCLUDE_JARS ${JUNIT_STANDALONE_JAR} ${J_CLASSPATH}
            OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR})
    if(J_DEPENDS)
      add_dependencies(${J_NAME}_tests ${J_DEPENDS})
    endif()
    get_target_property(test_jar ${J_NAME}_tests JAR_FILE)
  endif()
  string(JOIN ":" cp ${test_jar} ${J_CLASSPATH})
  add_test(NAME ${J_NAME}
           COMMAND ${Java_JAVA_EXECUTABLE} ${J_JVM_ARGS} -jar ${JUNIT_STANDALONE_JAR}
                   --class-path ${cp} --scan-class-path ${test_jar} --disable-banner
                   --details=tree --fail-if-no-tests)
  set_tests_properties(${J_NAME} PROPERTIES ENVIRONMENT "${J_ENVIRONMENT}" LABELS "${J_LABELS};junit")
  if(J_FIXTURES)
    set_tests_properties(${J_NAME} PROPERTIES FIXTURES_REQUIRED "${J_FIXTURES}")
  endif()
endfunction()

# JUNIT_SANITIZER_ENVIRONMENT: what a JVM needs to load libraries of a sanitized build (the ASan
# runtime first; the JVM's own leaks, its SIGSEGV-based null checks and the faults listed in
# junit_asan.supp are not ours).
set(JUNIT_SANITIZER_ENVIRONMENT)
if(VANTREL_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE junit_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(JUNIT_SANITIZER_ENVIRONMENT "LD_PRELOAD=${junit_asan_runtime}"
      "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:allow_user_segv_handler=1:use_sigaltstack=0:abort_on_error=1:suppressions=${CMAKE_CURRENT_LIST_DIR}/junit_asan.supp"
      "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
endif()
