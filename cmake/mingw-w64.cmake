# Cross-compiling weldrix for 64-bit Windows with Debian's MinGW-w64 GCC (package
# g++-mingw-w64-x86-64-posix):
#
#     cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake     (or: make windows)
#
# The programs link the C and C++ runtime statically, so they need no DLL beyond Windows' own
# (KERNEL32, msvcrt, SHELL32). Tests run through Wine (CMAKE_CROSSCOMPILING_EMULATOR), in the
# environment tests/windows/wine-env.sh sets up.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WELDRIX_MINGW x86_64-w64-mingw32)
# The -posix drivers by name: the plain names are alternatives that may point to the win32 thread
# model, which has no std::thread in GCC 12.
set(CMAKE_C_COMPILER ${WELDRIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WELDRIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${WELDRIX_MINGW}-windres)
set(CMAKE_AR ${WELDRIX_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${WELDRIX_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_STRIP ${WELDRIX_MINGW}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${WELDRIX_MINGW}-objdump CACHE FILEPATH "")

# Headers and libraries from the MinGW sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${WELDRIX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static links libwinpthread too; -static-libgcc -static-libstdc++ alone would leave
# libwinpthread-1.dll as a dependency.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(WELDRIX_WINE NAMES wine wine64)
if(WELDRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WELDRIX_WINE} CACHE FILEPATH "Runs the Windows programs for the tests")
endif()
