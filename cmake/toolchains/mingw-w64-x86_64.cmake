# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# Qt and std::thread need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Windows libraries installed elsewhere (a cross-built Qt, OpenSSL) are named the usual way, with
# CMAKE_PREFIX_PATH and OPENSSL_ROOT_DIR; they become find roots too, because the modes below
# search nothing outside the roots.
foreach(_lu_prefix IN LISTS CMAKE_PREFIX_PATH OPENSSL_ROOT_DIR)
    list(APPEND CMAKE_FIND_ROOT_PATH "${_lu_prefix}")
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything is linked in, so the .exe runs under Wine or on Windows without DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
