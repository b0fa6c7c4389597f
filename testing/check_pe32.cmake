# The 32-bit Windows files in FOLDER: every .exe and .dll a PE32 image for i386 (what
# `file` calls "PE32 ... Intel 80386"), and no program importing rendo.dll (the program
# loads the engine by name; linking it would make a missing DLL fatal at start).
#   cmake -DOBJDUMP=objdump -DFOLDER=bin -P check_pe32.cmake
file(GLOB images ${FOLDER}/*.exe ${FOLDER}/*.dll)
if(NOT images)
  message(FATAL_ERROR "no .exe or .dll in ${FOLDER}")
endif()
foreach(image IN LISTS images)
  execute_process(COMMAND ${OBJDUMP} -p ${image} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "file format pei-i386" OR NOT out MATCHES "Magic[\t ]+010b")
    message(FATAL_ERROR "${image} is not a PE32 image for i386")
  endif()
  if(image MATCHES "\\.exe$" AND out MATCHES "DLL Name: rendo\\.dll")
    message(FATAL_ERROR "${image} imports rendo.dll")
  endif()
endforeach()
list(LENGTH images count)
message(STATUS "${count} PE32 i386 images, none importing rendo.dll")
