# Linux armhf (32-bit) with g++-arm-linux-gnueabihf, tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# The target's libraries from Debian's multiarch packages (zlib1g-dev:armhf) are
# in /usr/lib/arm-linux-gnueabihf, their headers in /usr/include: the root folder is
# searched too, in this architecture's library folder.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# zlib's multiarch package brings the target's own C library, a newer build
# than the cross compiler's: the cross compiler's loader must load its own
# C library beside it (mixing the two crashes), and takes zlib from there.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib)
