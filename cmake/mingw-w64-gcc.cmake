# The mingw-w64 compilers for 64-bit Windows, with GCC's C++ runtime as DLLs. scripts/build-qt-windows
# builds the shared Qt with this file, so Qt's DLLs and the programs built against them share one
# runtime (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll, installed beside Qt's DLLs).
# mingw-w64.cmake adds what the Qt-free Windows build needs.
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
