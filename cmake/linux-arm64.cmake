# Linux arm64 with g++-aarch64-linux-gnu, tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The target's libraries from Debian's multiarch packages (zlib1g-dev:arm64) are
# in /usr/lib/aarch64-linux-gnu, their headers in /usr/include: the root folder is
# searched too, in this architecture's library folder.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# zlib's multiarch package brings the target's own C library, a newer build
# than the cross compiler's: the cross compiler's loader must load its own
# C library beside it (mixing the two crashes), and takes zlib from there.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
