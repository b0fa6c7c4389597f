# Fails unless the dynamic symbol table of LIBRARY defines exactly one symbol,
# CreateInstance. Undefined symbols (imports from libc, libstdc++) do not count.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) (.+)$")
    set(kind ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    # Absolute (A) entries are linker version nodes, not code or data.
    if(NOT kind STREQUAL "A")
      list(APPEND exported ${name})
    endif()
  endif()
endforeach()
if(NOT exported STREQUAL "CreateInstance")
  message(FATAL_ERROR "librendo.so exports [${exported}], expected only CreateInstance")
endif()
message(STATUS "librendo.so exports only CreateInstance")
