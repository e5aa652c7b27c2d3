# Writes the module-definition file of a win32 JNI library: every JNI native found in the
# object files is exported only under its decorated stdcall name (_Java_...@N).
# Arguments: NM, OBJECTS (|-separated), OUTPUT, LIBRARY.
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} -g --defined-only ${objects} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "_Java_[A-Za-z0-9_]+@[0-9]+" natives "${symbols}")
list(REMOVE_DUPLICATES natives)
list(SORT natives)
set(content "LIBRARY ${LIBRARY}\nEXPORTS\n")
foreach(native ${natives})
  string(SUBSTRING "${native}" 1 -1 internal)
  string(APPEND content "  ${native} = ${internal}\n")
endforeach()
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${content}")
  file(WRITE "${OUTPUT}" "${content}")
endif()
