# Run by cpack on the staged files before it packs them: removes the sections
# that CPACK_STRIP_FILES leaves (the compiler's identification in .comment and
# the .note section), as Debian's own packages are stripped.
find_program(KELM_OBJCOPY objcopy REQUIRED)
file(GLOB programs ${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*)
if(NOT programs)
  message(FATAL_ERROR "strip-notes: no programs under ${CPACK_TEMPORARY_DIRECTORY}/usr/bin")
endif()
foreach(p ${programs})
  execute_process(COMMAND ${KELM_OBJCOPY} --remove-section=.comment --remove-section=.note ${p}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "strip-notes: objcopy failed on ${p}")
  endif()
endforeach()
