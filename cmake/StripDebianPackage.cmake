# Run by cpack on the staged files before it packs them (CPACK_PRE_BUILD_SCRIPTS): strips
# the programs as Debian's dh_strip does, which also drops the compiler's .comment and the
# .note section that plain `strip` (CPACK_STRIP_FILES) keeps.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
  message(FATAL_ERROR "no programs staged in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
                          --strip-unneeded ${program}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip ${program} failed (${status})")
  endif()
endforeach()
