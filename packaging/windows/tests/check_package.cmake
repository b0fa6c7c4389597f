# The Windows package without running it: the zip holds exactly FILES in one folder, the
# programs in it are images of the build's kind (FORMAT, optional-header MAGIC: 010b PE32,
# 020b PE32+) with the engine's one export intact after stripping, and SETUP (when made) is
# an image of that kind too.
#   cmake -DOBJDUMP=.. -DZIP=.. -DSETUP=.. -DSTAGE=.. -DFILES=a,b -DFORMAT=pei-i386
#         -DMAGIC=010b -P check_package.cmake
cmake_minimum_required(VERSION 3.25)
function(check_image path)
  execute_process(COMMAND ${OBJDUMP} -p ${path} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "file format ${FORMAT}" OR NOT out MATCHES "Magic[\t ]+${MAGIC}")
    message(FATAL_ERROR "${path} is not a ${FORMAT} image (magic ${MAGIC})")
  endif()
  set(dump "${out}" PARENT_SCOPE)
endfunction()

string(REPLACE "," ";" FILES "${FILES}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list ${ZIP}")
endif()
get_filename_component(folder ${STAGE} NAME)
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "(^$|/$)")
list(SORT entries)
set(expected ${FILES})
list(TRANSFORM expected PREPEND ${folder}/)
list(SORT expected)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds\n  ${entries}\nexpected\n  ${expected}")
endif()

foreach(name IN LISTS FILES)
  if(name MATCHES "\\.(exe|dll)$")
    check_image(${STAGE}/${name})
    if(name STREQUAL "rendo.dll" AND NOT dump MATCHES "\\][ \t]+CreateInstance")
      message(FATAL_ERROR "the packaged rendo.dll lost its export CreateInstance")
    endif()
  endif()
endforeach()
if(SETUP)
  check_image(${SETUP})
endif()
message(STATUS "${ZIP}: ${FILES}, images ${FORMAT}; installer ${SETUP}")
