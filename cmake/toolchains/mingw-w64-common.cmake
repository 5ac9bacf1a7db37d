# The part both MinGW-w64 toolchains share. The compilers of the "posix"
# thread model are used: their C++ runtime has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${VSL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VSL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VSL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VSL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
