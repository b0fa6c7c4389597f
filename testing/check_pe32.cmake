# The 32-bit Windows files in FOLDER: every .exe and .dll a PE32 image for i386 (what
# `file` calls "PE32 ... Intel 80386"), none needing the compiler's run-time DLLs (a user's
# machine has none), and no program importing rendo.dll (the program loads the engine by
# name; linking it would make a missing DLL fatal at start). The images named in REQUIRED
# must be there (comma-separated); those in GUI must be window programs (no console opens
# with them).
#   cmake -DOBJDUMP=objdump -DFOLDER=bin -DREQUIRED=korvel.exe,rendo.dll -DGUI=korvel.exe -P check_pe32.cmake
cmake_minimum_required(VERSION 3.25)
file(GLOB images ${FOLDER}/*.exe ${FOLDER}/*.dll)
if(NOT images)
  message(FATAL_ERROR "no .exe or .dll in ${FOLDER}")
endif()
string(REPLACE "," ";" REQUIRED "${REQUIRED}")
string(REPLACE "," ";" GUI "${GUI}")
foreach(name IN LISTS REQUIRED)
  if(NOT EXISTS ${FOLDER}/${name})
    message(FATAL_ERROR "${FOLDER}/${name} was not built")
  endif()
endforeach()
foreach(image IN LISTS images)
  execute_process(COMMAND ${OBJDUMP} -p ${image} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "file format pei-i386" OR NOT out MATCHES "Magic[\t ]+010b")
    message(FATAL_ERROR "${image} is not a PE32 image for i386")
  endif()
  if(image MATCHES "\\.exe$" AND out MATCHES "DLL Name: rendo\\.dll")
    message(FATAL_ERROR "${image} imports rendo.dll")
  endif()
  if(out MATCHES "DLL Name: (libstdc\\+\\+|libgcc|libwinpthread)[^\n]*")
    message(FATAL_ERROR "${image} needs ${CMAKE_MATCH_0}")
  endif()
  get_filename_component(name ${image} NAME)
  if(name IN_LIST GUI AND NOT out MATCHES "Subsystem[\t ]+00000002")
    message(FATAL_ERROR "${image} is not a window program")
  endif()
endforeach()
list(LENGTH images count)
message(STATUS "${count} PE32 i386 images, none importing rendo.dll or a compiler run-time DLL")
