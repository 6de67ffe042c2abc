# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which Qt
# needs for std::thread and friends). Used for Qt itself, the libraries beside it and the
# program; packaging/windows/build.sh passes it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_MINGW_TRIPLE}-windres)
# The "-posix" suffix hides the triple from CMake's guess of the binutils' names.
find_program(CMAKE_AR ${QM_MINGW_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB ${QM_MINGW_TRIPLE}-ranlib REQUIRED)
find_program(CMAKE_OBJDUMP ${QM_MINGW_TRIPLE}-objdump)
find_program(CMAKE_STRIP ${QM_MINGW_TRIPLE}-strip)

# Libraries and headers come from the MinGW sysroot and the prefixes built for Windows,
# never from the build machine's /usr; programs (moc, rcc, uic) do come from the build
# machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The C and C++ runtimes and winpthreads go into each program, so that it needs no DLL
# beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
