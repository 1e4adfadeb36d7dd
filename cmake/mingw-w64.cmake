# Cross build for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64.cmake -DORBIX_QT=OFF
# (`make test-windows`). There is no Qt for Windows here, so this build covers the core, the
# keypad model and their tests; CTest runs the tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORBIX_MINGW x86_64-w64-mingw32)

# The POSIX thread model: the win32 one of GCC 12 has no std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${ORBIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBIX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORBIX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime goes into each program: Wine (and a Windows PC) would not find
# mingw's libstdc++ and libgcc DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Tests run under Wine, in a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${CMAKE_BINARY_DIR}/wine-prefix)
