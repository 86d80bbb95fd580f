# Linux s390x (big-endian) with g++-s390x-linux-gnu, tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
# The target's libraries from Debian's multiarch packages (zlib1g-dev:s390x) are
# in /usr/lib/s390x-linux-gnu, their headers in /usr/include: the root folder is
# searched too, in this architecture's library folder.
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# zlib's multiarch package brings the target's own C library, a newer build
# than the cross compiler's: the cross compiler's loader must load its own
# C library beside it (mixing the two crashes), and takes zlib from there.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu -E LD_LIBRARY_PATH=/usr/s390x-linux-gnu/lib)
