# Packs the classes in CLASSES into the jar OUTPUT with the same result for the same
# classes: the entries in sorted order, all with the time stamp in DATE_FILE.
file(READ ${DATE_FILE} date)
file(GLOB_RECURSE classes RELATIVE ${CLASSES} ${CLASSES}/*)
list(SORT classes)
set(entries)
foreach(class IN LISTS classes)
  list(APPEND entries -C ${CLASSES} ${class})
endforeach()
file(REMOVE ${OUTPUT})
execute_process(
  COMMAND ${JAR} --create --file ${OUTPUT} --date ${date} --main-class ${MAIN_CLASS} ${entries}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "jar failed (${result})")
endif()
