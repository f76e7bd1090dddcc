# Cross-building for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix), tests
# run through Wine (Debian: wine64): the windows-cross preset, `cmake --preset windows-cross`, which
# builds into build/windows-cross without Qt (scripts/windows-test.sh runs its test).
# The -posix compilers give std::thread and std::mutex; linking statically spares the tests the
# compiler's run-time DLLs, which Wine would otherwise have to find.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_nmct_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_nmct_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_nmct_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_nmct_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_nmct_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# CTest starts each test executable through Wine.
find_program(NMCT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NMCT_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${NMCT_WINE})
endif()
