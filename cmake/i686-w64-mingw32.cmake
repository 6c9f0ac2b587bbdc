# Cross build for 32-bit Windows (PE32, i686) with the posix-thread mingw-w64 compilers; every
# program runs through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# The mingw-w64 packages' own root, and the prefix where setup.sh builds libsoxr and SDL2 from
# Debian's source packages (cmake/win32_libraries.sh; the same default there).
if(DEFINED ENV{VORLA_WIN32_PREFIX})
  set(VORLA_WIN32_PREFIX $ENV{VORLA_WIN32_PREFIX})
else()
  set(VORLA_WIN32_PREFIX $ENV{HOME}/.cache/vorla-win32)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${VORLA_WIN32_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libgcc, libstdc++, winpthread) goes into each file: the module file and the
# programs need no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
