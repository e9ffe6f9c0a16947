# Cross build for Windows with Debian's mingw-w64. The programs are i686 only (the ASPI
# and pass-through request blocks are 32-bit layouts, and 64-bit Windows runs
# an i686 program under WOW64, pass-through included).
#
# ORVEL_MINGW_ARCH x86_64 (with the posix model) builds the test suites for
# 64-bit Wine, for machines whose kernel runs no 32-bit programs; the
# programs themselves are always i686.
#
# ORVEL_MINGW_THREADS picks the compiler's thread model:
#   win32  (default) the programs: with -static they import only KERNEL32 and
#          msvcrt.dll, and so start on old Windows;
#   posix  the GoogleTest suites, which need std::thread and friends
#          (winpthreads imports functions of newer Windows; tests only).
set(CMAKE_SYSTEM_NAME Windows)
set(ORVEL_MINGW_ARCH "i686" CACHE STRING "i686 (programs and tests) or x86_64 (tests under 64-bit Wine only)")
set_property(CACHE ORVEL_MINGW_ARCH PROPERTY STRINGS i686 x86_64)
set(CMAKE_SYSTEM_PROCESSOR ${ORVEL_MINGW_ARCH})

set(ORVEL_MINGW_THREADS "win32" CACHE STRING "mingw-w64 thread model: win32 (programs) or posix (tests)")
set_property(CACHE ORVEL_MINGW_THREADS PROPERTY STRINGS win32 posix)
set(_orvel_triple ${ORVEL_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${_orvel_triple}-gcc-${ORVEL_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${_orvel_triple}-g++-${ORVEL_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${_orvel_triple}-windres)
set(CMAKE_AR ${_orvel_triple}-gcc-ar-${ORVEL_MINGW_THREADS} CACHE FILEPATH "")
set(CMAKE_RANLIB ${_orvel_triple}-gcc-ranlib-${ORVEL_MINGW_THREADS} CACHE FILEPATH "")

# Only the cross tree's own headers and libraries; never the host's /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/${_orvel_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in: no libgcc, libstdc++ or winpthread DLL beside the .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
