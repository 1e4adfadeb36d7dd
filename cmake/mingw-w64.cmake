# Cross build for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64.cmake -DORBIX_QT=OFF
# (`make test-windows`). This build covers the core, the keypad model and their tests; CTest runs
# the tests under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-gcc.cmake)

# The compiler's own runtime goes into each program: Wine (and a Windows PC) would not find
# mingw's libstdc++ and libgcc DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Tests run under Wine, in a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${CMAKE_BINARY_DIR}/wine-prefix)
