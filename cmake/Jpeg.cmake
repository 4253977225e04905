# libjpeg-turbo, cross-built from Debian's source package (fetched by scripts/setup) for
# the current target with its SIMD code, once per build folder. A finished build is reused.
set(ORVIX_JPEG_PREFIX ${CMAKE_BINARY_DIR}/deps/jpeg)
set(ORVIX_JPEG_LIB ${ORVIX_JPEG_PREFIX}/lib/libjpeg.a)

if(NOT EXISTS ${ORVIX_JPEG_LIB})
  if(NOT ORVIX_JPEG_SOURCE)
    file(GLOB _jpeg_src LIST_DIRECTORIES true
         ${ORVIX_DEPS_DIR}/src/libjpeg-turbo-*/CMakeLists.txt)
    list(GET _jpeg_src 0 _jpeg_cml)
    if(NOT _jpeg_cml)
      message(FATAL_ERROR "libjpeg-turbo source not found under ${ORVIX_DEPS_DIR}/src: run scripts/setup")
    endif()
    get_filename_component(ORVIX_JPEG_SOURCE ${_jpeg_cml} DIRECTORY)
  endif()
  message(STATUS "Building libjpeg-turbo from ${ORVIX_JPEG_SOURCE}")
  set(_jb ${CMAKE_BINARY_DIR}/deps/jpeg-build)
  file(MAKE_DIRECTORY ${_jb})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${ORVIX_JPEG_SOURCE} -B ${_jb}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
            -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${ORVIX_JPEG_PREFIX}
            -DCMAKE_ASM_NASM_COMPILER=nasm
            -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
            -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DWITH_JPEG8=OFF
    OUTPUT_FILE ${CMAKE_BINARY_DIR}/deps/jpeg-configure.log
    ERROR_FILE ${CMAKE_BINARY_DIR}/deps/jpeg-configure.log
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "libjpeg-turbo configure failed, see ${CMAKE_BINARY_DIR}/deps/jpeg-configure.log")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${_jb} --target install --parallel
    OUTPUT_FILE ${CMAKE_BINARY_DIR}/deps/jpeg-build.log
    ERROR_FILE ${CMAKE_BINARY_DIR}/deps/jpeg-build.log
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0 OR NOT EXISTS ${ORVIX_JPEG_LIB})
    message(FATAL_ERROR "libjpeg-turbo build failed, see ${CMAKE_BINARY_DIR}/deps/jpeg-build.log")
  endif()
endif()

add_library(jpeg STATIC IMPORTED GLOBAL)
set_target_properties(jpeg PROPERTIES
  IMPORTED_LOCATION ${ORVIX_JPEG_LIB}
  INTERFACE_INCLUDE_DIRECTORIES ${ORVIX_JPEG_PREFIX}/include)
