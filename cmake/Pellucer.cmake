# Helpers shared by the subdirectories. Included once from the top-level CMakeLists.txt.

include_guard(GLOBAL)

set(PELLUCER_CMAKE_DIR "${CMAKE_CURRENT_LIST_DIR}")

# pellucer_target_defaults(<target>)
# Our own warning flags. Applied per target so that GoogleTest keeps its own.
function(pellucer_target_defaults target)
    # -fno-math-errno lets sqrt and friends compile to single instructions (and vectorise);
    # no code of ours reads errno, and the results are the same bits either way.
    target_compile_options(${target} PRIVATE -Wall -Wextra -fno-math-errno)
endfunction()

# pellucer_glob_sources(<var> [RECURSE])
# All *.cpp of the calling directory (and its subdirectories with RECURSE). The glob is
# re-checked at every build, so adding or removing a .cpp needs no CMake edit.
function(pellucer_glob_sources var)
    cmake_parse_arguments(arg "RECURSE" "" "" ${ARGN})
    if(arg_RECURSE)
        file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    else()
        file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    endif()
    list(SORT sources)
    set(${var} "${sources}" PARENT_SCOPE)
endfunction()

# pellucer_check_pe_imports(<target>)
# Windows builds: after each link, fail if the .exe/.dll imports a MinGW runtime DLL
# (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll, ...) instead of having it linked in
# statically. Reads the import table with objdump; runs nothing.
function(pellucer_check_pe_imports target)
    if(NOT WIN32)
        return()
    endif()
    if(NOT CMAKE_OBJDUMP)
        message(FATAL_ERROR "pellucer_check_pe_imports: no objdump for ${CMAKE_CXX_COMPILER}")
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND "${CMAKE_COMMAND}" -D "OBJDUMP=${CMAKE_OBJDUMP}" -D "FILE=$<TARGET_FILE:${target}>"
                -P "${PELLUCER_CMAKE_DIR}/check-pe-imports.cmake"
        VERBATIM)
endfunction()

# pellucer_discover_gtests(<target>)
# Registers every GoogleTest case of <target> with CTest, one CTest test per case.
# Discovery happens when ctest starts (PRE_TEST), so nothing is executed at build time: this
# matters for the i686 build, which cannot run here, and keeps Wine out of the build.
# Each case runs through gtest-check.sh, which insists on GoogleTest's own success line.
# In build/win64 the cases run under Wine (CMAKE_CROSSCOMPILING_EMULATOR). A cross build
# without an emulator (build/win32) builds the tests and registers none.
function(pellucer_discover_gtests target)
    if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
        message(STATUS "${target}: built only, ${CMAKE_SYSTEM_PROCESSOR} programs cannot run here")
        return()
    endif()
    set(runner "${PELLUCER_CMAKE_DIR}/gtest-check.sh")
    if(CMAKE_CROSSCOMPILING)
        list(APPEND runner ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    # gtest_discover_tests() puts the target's CROSSCOMPILING_EMULATOR in front of every
    # command it runs, native builds included: that is where the checking runner goes.
    set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR "${runner}")
    gtest_discover_tests(${target}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        PROPERTIES
            TIMEOUT 300
            FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endfunction()

# pellucer_add_windows_dll(<target> DEF <file.def> [OUTPUT_NAME <name>] SOURCES <file>...)
# A Windows DLL (plug-in or COM server) that a host loads with LoadLibrary: no "lib" prefix,
# exports exactly what the .def file lists, GCC runtime linked in statically (toolchain files),
# and its import table checked after each link. On i686 the toolchain adds
# -Wl,--enable-stdcall-fixup so that undecorated .def names bind to __stdcall functions.
function(pellucer_add_windows_dll target)
    cmake_parse_arguments(arg "" "DEF;OUTPUT_NAME" "SOURCES" ${ARGN})
    if(NOT WIN32)
        message(FATAL_ERROR "pellucer_add_windows_dll(${target}): Windows builds only")
    endif()
    if(NOT arg_DEF OR NOT arg_SOURCES)
        message(FATAL_ERROR "pellucer_add_windows_dll(${target}): DEF and SOURCES are required")
    endif()
    add_library(${target} MODULE ${arg_SOURCES} ${arg_DEF})
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll")
    if(arg_OUTPUT_NAME)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME "${arg_OUTPUT_NAME}")
    endif()
    pellucer_target_defaults(${target})
    pellucer_check_pe_imports(${target})
endfunction()
