# The one time stamp of everything the packages carry (jar entries, the changelog's date, archive
# members): SOURCE_DATE_EPOCH when the caller sets it, else the time of the last commit, so two
# builds of one commit agree. Exported here so that string(TIMESTAMP) reads it too.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(VANTREL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_CURRENT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE VANTREL_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_failed ERROR_QUIET)
  if(git_failed OR NOT VANTREL_SOURCE_DATE_EPOCH)
    # Outside a checkout (the source package, say), the files carry the time of their commit.
    file(TIMESTAMP ${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.txt VANTREL_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${VANTREL_SOURCE_DATE_EPOCH})
endif()
if(NOT VANTREL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR VANTREL_SOURCE_DATE_EPOCH LESS 315532802)
  # A ZIP entry cannot be dated before 1980.
  message(FATAL_ERROR "SOURCE_DATE_EPOCH '${VANTREL_SOURCE_DATE_EPOCH}': seconds since 1970, from 1980 on")
endif()
string(TIMESTAMP VANTREL_SOURCE_DATE "%Y-%m-%dT%H:%M:%SZ" UTC)
# Rewritten only when the date changes: what is dated by it depends on this file.
set(VANTREL_SOURCE_DATE_FILE ${CMAKE_BINARY_DIR}/source_date_epoch)
file(CONFIGURE OUTPUT ${VANTREL_SOURCE_DATE_FILE} CONTENT "${VANTREL_SOURCE_DATE_EPOCH}\n")
