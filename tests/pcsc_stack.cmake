# add_pcsc_stack(<test prefix> <fixture> <readers> <label> <folder variable>)
# Fixture <fixture>: a private pcscd with the vpcd driver and 0 or 2 virtual readers
# (tests/atr/pcsc_env.py), in a folder under /tmp because socket paths must stay short; sets
# <folder variable> to that folder (its clients need PCSCLITE_CSOCK_NAME=<folder>/pcscd.comm).
if(WIN32)
  return()
endif()
find_program(PCSC_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(PCSC_PYTHON NAMES python3 REQUIRED)
set(PCSC_ENV_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/atr/pcsc_env.py)

function(add_pcsc_stack prefix fixture readers label folder_variable)
  string(MD5 build_hash "${CMAKE_CURRENT_BINARY_DIR}")
  string(SUBSTRING "${build_hash}" 0 10 build_hash)
  set(dir /tmp/vantrel-${label}-${build_hash}-${fixture})
  add_test(NAME ${prefix}_start COMMAND ${PCSC_PYTHON} ${PCSC_ENV_SCRIPT} start ${dir} --readers ${readers})
  add_test(NAME ${prefix}_stop COMMAND ${PCSC_PYTHON} ${PCSC_ENV_SCRIPT} stop ${dir})
  set_tests_properties(${prefix}_start PROPERTIES FIXTURES_SETUP ${fixture} LABELS ${label})
  set_tests_properties(${prefix}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} LABELS ${label})
  set(${folder_variable} ${dir} PARENT_SCOPE)
endfunction()
