# cmake -D OBJDUMP=<objdump> -D FILE=<exe or dll> -P check-pe-imports.cmake
# Fails when FILE imports a MinGW runtime DLL, i.e. when the static runtime flags of the
# toolchain files did not take. Such a file would not load on a machine without MinGW.

if(NOT OBJDUMP OR NOT FILE)
    message(FATAL_ERROR "usage: cmake -D OBJDUMP=... -D FILE=... -P check-pe-imports.cmake")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${FILE}"
    OUTPUT_VARIABLE dump
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed (${status})")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
set(imports "")
set(bad "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    list(APPEND imports "${dll}")
    string(TOLOWER "${dll}" lower)
    # Windows' own DLLs never start with "lib"; MinGW's runtimes all do.
    if(lower MATCHES "^lib")
        list(APPEND bad "${dll}")
    endif()
endforeach()

if(bad)
    list(JOIN imports ", " all)
    list(JOIN bad ", " bad)
    message(FATAL_ERROR "${FILE} imports ${bad}; link it with -static -static-libgcc -static-libstdc++ "
        "(all imports: ${all})")
endif()
