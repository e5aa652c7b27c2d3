# Writes the module-definition file of a win32 JNI library: every JNI native and library entry
# point (JNI_OnLoad, JNI_OnUnload) found in the object files is exported only under its
# decorated stdcall name (_Java_...@N, _JNI_OnLoad@8), the name a 32-bit JVM looks up.
# Arguments: NM, OBJECTS (|-separated), OUTPUT, LIBRARY.
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} -g --defined-only ${objects} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "_(Java_[A-Za-z0-9_]+|JNI_OnLoad|JNI_OnUnload)@[0-9]+" natives "${symbols}")
list(REMOVE_DUPLICATES natives)
list(SORT natives)
set(content "LIBRARY ${LIBRARY}\nEXPORTS\n")
foreach(native ${natives})
  string(SUBSTRING "${native}" 1 -1 internal)
  string(APPEND content "  ${native} = ${internal}\n")
  # jni.h declares the entry points dllexport, which exports them under their internal names
  # as well; those names stay out of the name table.
  if(internal MATCHES "^JNI_On")
    string(APPEND content "  ${internal} NONAME\n")
  endif()
endforeach()
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${content}")
  file(WRITE "${OUTPUT}" "${content}")
endif()
