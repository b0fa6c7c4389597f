# Fails unless the Windows DLL LIBRARY exports exactly one name, CreateInstance: the list
# objdump -p prints after "[Ordinal/Name Pointer] Table", one "\t[   0] Name" a line.
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
string(FIND "${out}" "[Ordinal/Name Pointer] Table" at)
if(NOT rc EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "no export names in ${LIBRARY}")
endif()
string(SUBSTRING "${out}" ${at} -1 names)
string(REGEX REPLACE "\n\n.*" "" names "${names}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" entries "${names}")
list(TRANSFORM entries REPLACE "^\t\\[ *[0-9]+\\] " "")
if(NOT entries STREQUAL "CreateInstance")
  message(FATAL_ERROR "${LIBRARY} exports [${entries}], expected only CreateInstance")
endif()
