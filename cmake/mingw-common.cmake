# Shared part of the two mingw-w64 toolchain files. The -posix compilers carry the
# winpthreads runtime that std::thread needs.
set(CMAKE_C_COMPILER   ${ORVIX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVIX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORVIX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORVIX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
