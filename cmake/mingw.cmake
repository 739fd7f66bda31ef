# Cross-build for Windows with Debian's mingw-w64 (the POSIX thread model, for
# std::thread in the tests):
#   -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake [-DZEL_WINDOWS_ARCH=i686]
if(NOT ZEL_WINDOWS_ARCH)
  set(ZEL_WINDOWS_ARCH x86_64)
endif()
# The checks of the compiler read this file again in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZEL_WINDOWS_ARCH)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZEL_WINDOWS_ARCH})
set(CMAKE_C_COMPILER ${ZEL_WINDOWS_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_WINDOWS_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_WINDOWS_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_WINDOWS_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
