# Exports of a DLL whose entry points are WINAPI. On the 32-bit target those carry
# stdcall decorations (Name@8): the DLL must export the plain names, while the import
# library has to keep the decorated symbols that callers reference. ld's own import
# library loses them under --kill-at, so dlltool rebuilds it from the same .def file.
#
# DEF_IN spells an entry point as Name@STDCALL_<bytes of arguments>@, e.g.
# "HookCBTHook@STDCALL_8@ @2".
function(orvix_stdcall_exports TARGET DEF_IN)
  set(_32 OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_32 ON)
  endif()
  foreach(_n 0 4 8 12 16)
    if(_32)
      set(STDCALL_${_n} "@${_n}")
    else()
      set(STDCALL_${_n} "")
    endif()
  endforeach()
  set(_def ${CMAKE_CURRENT_BINARY_DIR}/${TARGET}.def)
  configure_file(${DEF_IN} ${_def} @ONLY)
  target_sources(${TARGET} PRIVATE ${_def})
  set_target_properties(${TARGET} PROPERTIES PREFIX "")
  if(_32)
    find_program(ORVIX_DLLTOOL NAMES ${ORVIX_TRIPLE}-dlltool dlltool REQUIRED)
    target_link_options(${TARGET} PRIVATE -Wl,--kill-at)
    add_custom_command(TARGET ${TARGET} POST_BUILD
      COMMAND ${ORVIX_DLLTOOL} --input-def ${_def} --dllname $<TARGET_FILE_NAME:${TARGET}>
              --output-lib $<TARGET_LINKER_FILE:${TARGET}> --kill-at
      VERBATIM)
  endif()
endfunction()

# Test programs load the DLL from their own folder.
function(orvix_copy_to_test_bin TARGET)
  if(ORVIX_TESTS)
    add_custom_command(TARGET ${TARGET} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${TARGET}> ${ORVIX_TEST_BIN}
      VERBATIM)
  endif()
endfunction()
