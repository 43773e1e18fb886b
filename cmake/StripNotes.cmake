# Run by CPack on the staged files, after its own strip: removes the
# compiler's .comment and .note sections from the programs as Debian's
# packaging tools do, which plain strip leaves in.
file(GLOB _programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(_program ${_programs})
  execute_process(COMMAND "${CPACK_OBJCOPY}" --remove-section=.comment --remove-section=.note "${_program}"
                  RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "objcopy failed on ${_program}")
  endif()
endforeach()
