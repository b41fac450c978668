# Toolchain file: 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686).
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# There is no 32-bit Wine on our machines, so this build is compiled and checked, never run.

set(CMAKE_SYSTEM_PROCESSOR i686)
set(PELLUCER_MINGW_TRIPLET i686-w64-mingw32)
# 32-bit __stdcall functions carry an @N suffix (DllGetClassObject@12). With this flag the
# linker quietly binds the undecorated names listed in a .def file to them.
set(PELLUCER_MINGW_DLL_LINK_FLAGS "-Wl,--enable-stdcall-fixup")
# Arithmetic in SSE2 registers, not the x87 stack: doubles and floats are rounded exactly where
# the code says, so the 32-bit module computes the same samples as the 64-bit one.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
