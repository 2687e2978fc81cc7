# Warning and sanitizer flags, chosen per compiler. GCC and Clang (also
# MinGW-w64 and Apple Clang) take the GNU spellings; MSVC its own.

if(MSVC)
    # Sources are UTF-8 (the accented messages and names); MSVC otherwise
    # reads them in the system's code page.
    add_compile_options(/W4 /permissive- /utf-8 /Zc:__cplusplus)
    add_compile_definitions(_CRT_SECURE_NO_WARNINGS NOMINMAX)
    if(PYLORIX_SANITIZE)
        add_compile_options(/fsanitize=address)
    endif()
    if(PYLORIX_FUZZ)
        message(FATAL_ERROR "PYLORIX_FUZZ needs clang")
    endif()
    return()
endif()

add_compile_options(-Wall -Wextra)
if(WIN32)
    # windows.h would otherwise define min and max as macros.
    add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN)
endif()

if(PYLORIX_SANITIZE)
    if(WIN32)
        message(FATAL_ERROR "PYLORIX_SANITIZE: the GNU sanitizers are not available on Windows")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

if(PYLORIX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "PYLORIX_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++)")
    endif()
    # Instrument the libraries too, so the fuzzer sees coverage inside them.
    # Undefined behaviour must stop a run like a crash does (a recoverable
    # check only prints a line, and the run would still end as a success);
    # line tables give the reports file and line.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -gline-tables-only)
endif()
