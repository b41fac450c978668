# Shared part of the two mingw-w64 toolchain files. The including file sets
# PELLUCER_MINGW_TRIPLET (x86_64-w64-mingw32 or i686-w64-mingw32) and CMAKE_SYSTEM_PROCESSOR.
#
# We use the "-posix" flavour of the cross compilers: only that one has std::thread,
# std::mutex and friends (the "-win32" flavour lacks them in GCC 12).

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${PELLUCER_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLUCER_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${PELLUCER_MINGW_TRIPLET}-windres)

# Headers, import libraries and packages come from the mingw-w64 sysroot only;
# build tools (cmake, objdump, ...) are looked up on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PELLUCER_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable and DLL links the GCC runtime, libstdc++ and winpthread statically,
# so what we ship (and what the tests load under Wine) imports nothing but system DLLs.
# pellucer_check_pe_imports() in Pellucer.cmake verifies this after each link.
set(_pellucer_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${_pellucer_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_pellucer_static_runtime} ${PELLUCER_MINGW_DLL_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_pellucer_static_runtime} ${PELLUCER_MINGW_DLL_LINK_FLAGS}")
unset(_pellucer_static_runtime)
