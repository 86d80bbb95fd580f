# Windows x86-64 with mingw-w64 (g++-mingw-w64-x86-64-posix), tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
# Libraries for the target, zlib (libz-mingw-w64-dev) among them, are in
# /usr/x86_64-w64-mingw32/lib, their headers in /usr/x86_64-w64-mingw32/include.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Statically linked: nothing to ship beside imgpack.exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# wine's own notes on standard error would fail the tests' empty-stderr check.
# A UTF-8 locale lets wine hand non-ASCII arguments to the program unchanged.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all LC_ALL=C.UTF-8 wine)
