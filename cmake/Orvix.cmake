# Project-wide settings and the helper functions that the folders' CMakeLists use.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

add_compile_options(-Wall -Wextra)
# The oldest Windows both targets start on: Windows Vista. The -posix runtime's
# winpthreads, linked statically, imports GetTickCount64, which earlier systems lack.
# Later functions are looked up at run time; README "Windows versions".
set(ORVIX_WINNT 0x0600)
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=${ORVIX_WINNT} WINVER=${ORVIX_WINNT}
                        NOMINMAX STRSAFE_NO_DEPRECATE)
# The -posix runtime's std::mutex and std::recursive_mutex are initialised statically and
# have no destructor, so what winpthreads makes for them (a record, and an event the first
# time a thread waits) outlives them: a handle lost with every lock that was waited for.
# These give both a constructor and a destructor that make and free it.
add_compile_definitions(_GTHREAD_USE_MUTEX_INIT_FUNC _GTHREAD_USE_RECURSIVE_MUTEX_INIT_FUNC)
# No compiler runtime DLLs next to the program.
add_link_options(-static -static-libgcc -static-libstdc++)
if(ORVIX_COVERAGE)
  # Everything is counted, so that both families of precompiled headers keep matching
  # flags; the report leaves out what is not product code. Unoptimised, so that each
  # count belongs to the line it was made on. A --coverage program writes its counts
  # beside its objects when it exits (under Wine through drive Z:).
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:--coverage> $<$<COMPILE_LANGUAGE:C,CXX>:-O0>)
  add_link_options(--coverage)
endif()
include_directories(${PROJECT_SOURCE_DIR})

# The one version number (project() in the top CMakeLists) for the resource scripts of
# the program and its libraries; the installer takes it from PROJECT_VERSION too.
configure_file(${PROJECT_SOURCE_DIR}/resources/OrvixVersion.h.in
               ${CMAKE_BINARY_DIR}/generated/OrvixVersion.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)

# Given from outside for the 64-bit half that the 32-bit build makes (quillhook/).
if(NOT DEFINED ORVIX_STAGE_DIR)
  set(ORVIX_STAGE_DIR ${CMAKE_BINARY_DIR}/Orvix)
endif()
if(NOT DEFINED ORVIX_TEST_BIN)
  set(ORVIX_TEST_BIN ${CMAKE_BINARY_DIR}/tests-bin)
endif()
file(MAKE_DIRECTORY ${ORVIX_STAGE_DIR} ${ORVIX_TEST_BIN})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${ORVIX_TEST_BIN})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${ORVIX_TEST_BIN})

# One static library per program folder, from every source file in it.
function(orvix_folder_library NAME)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_src)
    add_library(${NAME} STATIC ${_src})
    target_link_libraries(${NAME} PUBLIC ${A_LIBS})
  else()
    add_library(${NAME} INTERFACE)
    target_link_libraries(${NAME} INTERFACE ${A_LIBS})
  endif()
endfunction()

# TARGET puts files into the staged program folder: the installer package waits for it.
function(orvix_staged_by TARGET)
  set_property(GLOBAL APPEND PROPERTY ORVIX_STAGING_TARGETS ${TARGET})
endfunction()

# Output of TARGET goes into the staged program folder (optionally a subfolder).
function(orvix_stage TARGET)
  orvix_staged_by(${TARGET})
  cmake_parse_arguments(A "" "SUBDIR" "" ${ARGN})
  set(_dir ${ORVIX_STAGE_DIR})
  if(A_SUBDIR)
    set(_dir ${ORVIX_STAGE_DIR}/${A_SUBDIR})
  endif()
  set_target_properties(${TARGET} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${_dir}
    LIBRARY_OUTPUT_DIRECTORY ${_dir})
endfunction()

# Copies FILES into the staged folder (SUBDIR relative to it) at build time.
function(orvix_stage_files)
  cmake_parse_arguments(A "" "SUBDIR;TARGET" "FILES" ${ARGN})
  set(_dir ${ORVIX_STAGE_DIR})
  if(A_SUBDIR)
    set(_dir ${ORVIX_STAGE_DIR}/${A_SUBDIR})
  endif()
  set(_outs)
  foreach(_f ${A_FILES})
    get_filename_component(_abs ${_f} ABSOLUTE)
    get_filename_component(_name ${_f} NAME)
    add_custom_command(OUTPUT ${_dir}/${_name}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_abs} ${_dir}/${_name}
      DEPENDS ${_abs} VERBATIM)
    list(APPEND _outs ${_dir}/${_name})
  endforeach()
  if(A_TARGET)
    set(_t ${A_TARGET})
  else()
    string(MD5 _h "${_dir};${A_FILES}")
    string(SUBSTRING ${_h} 0 10 _h)
    set(_t stage_${_h})
  endif()
  add_custom_target(${_t} ALL DEPENDS ${_outs})
  orvix_staged_by(${_t})
endfunction()

# A GoogleTest executable, run under Wine as one CTest test; its results go to
# test-results/NAME.xml, which scripts/test counts.
function(orvix_add_gtest NAME)
  if(NOT ORVIX_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "NO_MAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${NAME} ${A_SOURCES})
  if(A_NO_MAIN)
    target_link_libraries(${NAME} PRIVATE GTest::gtest ${A_LIBS})
  else()
    target_link_libraries(${NAME} PRIVATE GTest::gtest GTest::gtest_main ${A_LIBS})
  endif()
  # The path is relative to the working folder: Wine does not take an absolute Unix
  # path there as one.
  add_test(NAME ${NAME}
           COMMAND ${NAME} --gtest_output=xml:../test-results/${NAME}.xml
           WORKING_DIRECTORY ${ORVIX_TEST_BIN})
endfunction()

# A plain Windows program that tests start.
function(orvix_add_helper NAME)
  cmake_parse_arguments(A "GUI" "" "SOURCES;LIBS" ${ARGN})
  if(A_GUI)
    add_executable(${NAME} WIN32 ${A_SOURCES})
  else()
    add_executable(${NAME} ${A_SOURCES})
  endif()
  target_link_libraries(${NAME} PRIVATE ${A_LIBS})
endfunction()

# A DLL that tests load; DEF gives its exports.
function(orvix_add_test_dll NAME)
  cmake_parse_arguments(A "" "DEF" "SOURCES;LIBS" ${ARGN})
  add_library(${NAME} SHARED ${A_SOURCES} ${A_DEF})
  set_target_properties(${NAME} PROPERTIES PREFIX "")
  target_link_libraries(${NAME} PRIVATE ${A_LIBS})
endfunction()

# The scripts register every DLL named here with regsvr32 in the test and run prefixes.
function(orvix_register_com TARGET)
  set_property(GLOBAL APPEND PROPERTY ORVIX_COM_DLLS "$<TARGET_FILE:${TARGET}>")
endfunction()

function(orvix_write_com_list)
  get_property(_dlls GLOBAL PROPERTY ORVIX_COM_DLLS)
  string(REPLACE ";" "\n" _lines "${_dlls}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/com-dlls.txt CONTENT "${_lines}\n")
endfunction()

# Tests and helpers run under Wine, the 32-bit build's through Wine's 32-bit loader; the
# scripts provide the prefix, the display and the wineserver.
if(ORVIX_TESTS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(ORVIX_WINE /usr/lib/wine/wine)
  else()
    set(ORVIX_WINE /usr/lib/wine/wine64)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-exec ${ORVIX_WINE})
endif()

# Precompiled headers. <windows.h> and the standard headers that nearly every source file
# includes take most of its compile time (and GoogleTest's header most of a test's), twice
# over with two targets. Two families are compiled once per build folder, one for the
# program, its libraries and helpers, one with GoogleTest for the tests, and every target
# reuses its family's: the flags that could make a header mean something else (target,
# optimisation, the global definitions) are the same within a family.
set(ORVIX_PCH_HEADERS <windows.h> <algorithm> <atomic> <cstdint> <cstring> <functional>
                      <memory> <string> <vector>)
# Test code is compiled for the compiler's speed; the program code it drives is built as
# it ships, in the libraries.
set(ORVIX_TEST_OPTIMIZE -O0)

function(_orvix_targets_under DIR OUT)
  get_property(_targets DIRECTORY ${DIR} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(_subs DIRECTORY ${DIR} PROPERTY SUBDIRECTORIES)
  foreach(_s ${_subs})
    _orvix_targets_under(${_s} _more)
    list(APPEND _targets ${_more})
  endforeach()
  set(${OUT} ${_targets} PARENT_SCOPE)
endfunction()

function(orvix_precompile_headers)
  set(_empty ${CMAKE_BINARY_DIR}/generated/pch.cpp)
  if(NOT EXISTS ${_empty})
    file(WRITE ${_empty} "// The translation unit that precompiles its family's headers.\n")
  endif()
  add_library(orvix_pch OBJECT ${_empty})
  target_precompile_headers(orvix_pch PRIVATE ${ORVIX_PCH_HEADERS})
  if(ORVIX_TESTS)
    add_library(orvix_test_pch OBJECT ${_empty})
    target_link_libraries(orvix_test_pch PRIVATE GTest::gtest)
    target_compile_options(orvix_test_pch PRIVATE ${ORVIX_TEST_OPTIMIZE})
    target_precompile_headers(orvix_test_pch PRIVATE ${ORVIX_PCH_HEADERS} <gtest/gtest.h>)
    foreach(_g gtest gtest_main)
      if(TARGET ${_g})
        target_compile_options(${_g} PRIVATE ${ORVIX_TEST_OPTIMIZE})
      endif()
    endforeach()
  endif()
  _orvix_targets_under(${PROJECT_SOURCE_DIR} _all)
  foreach(_t ${_all})
    get_target_property(_type ${_t} TYPE)
    if(NOT _type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$" OR
       _t MATCHES "^(gtest|gtest_main|orvix_pch|orvix_test_pch)$")
      continue()
    endif()
    get_target_property(_src ${_t} SOURCES)
    list(FILTER _src INCLUDE REGEX "\\.(cpp|cc)$")
    if(NOT _src)
      continue()
    endif()
    get_target_property(_libs ${_t} LINK_LIBRARIES)
    if(ORVIX_TESTS AND ("GTest::gtest" IN_LIST _libs OR "gtest" IN_LIST _libs))
      target_compile_options(${_t} PRIVATE ${ORVIX_TEST_OPTIMIZE})
      target_precompile_headers(${_t} REUSE_FROM orvix_test_pch)
    else()
      target_precompile_headers(${_t} REUSE_FROM orvix_pch)
    endif()
  endforeach()
endfunction()
