# Toolchain file: 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The top-level CMakeLists.txt adds Wine (cmake/wine-run.sh) as the emulator that runs the tests.

set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELLUCER_MINGW_TRIPLET x86_64-w64-mingw32)
set(PELLUCER_MINGW_DLL_LINK_FLAGS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
