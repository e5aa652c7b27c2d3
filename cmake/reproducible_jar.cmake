# cmake -DJAR_TOOL=<jar> -DINPUT=<jar> -DOUTPUT=<jar> -DDATE=<ISO 8601> -P reproducible_jar.cmake
# Writes INPUT again as OUTPUT with its entries in name order, all dated DATE: the same classes
# give the same bytes whenever and wherever they were compiled.
set(work ${OUTPUT}.entries)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${INPUT} WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE ${work} ${work}/*)
list(REMOVE_ITEM entries META-INF/MANIFEST.MF)
list(SORT entries)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${JAR_TOOL} --create --file ${OUTPUT} --date ${DATE} --manifest META-INF/MANIFEST.MF ${entries}
                WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${work})
