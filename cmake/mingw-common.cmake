# Shared part of the two toolchain files; BK_TRIPLE is set by the includer.
set(CMAKE_C_COMPILER   ${BK_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BK_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${BK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests and tools run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
