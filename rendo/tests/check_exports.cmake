# Fails unless the dynamic symbol table of LIBRARY defines exactly one symbol,
# CreateInstance. Undefined symbols (imports from libc, libstdc++) do not count.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" exported "${out}")
# "<address> <kind> <name>"; absolute (A) entries are linker version nodes, not code or data.
list(FILTER exported INCLUDE REGEX "^[0-9a-fA-F]* *[B-Za-z] .+$")
list(TRANSFORM exported REPLACE "^[0-9a-fA-F]* *[B-Za-z] " "")
if(NOT exported STREQUAL "CreateInstance")
  message(FATAL_ERROR "librendo.so exports [${exported}], expected only CreateInstance")
endif()
message(STATUS "librendo.so exports only CreateInstance")
