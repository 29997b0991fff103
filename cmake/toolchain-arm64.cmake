# Cross build for the board (arm64) with Debian's aarch64-linux-gnu toolchain and the
# multiarch -dev packages of the dependencies (dpkg --add-architecture arm64).
# Programs built for the board run on this machine under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /usr/lib/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# The emulator runs the programs with the board's multiarch libraries
# (libc6 and libstdc++6 of that architecture) and their loader under /lib.
# Not with -L and the cross compiler's own libc: qemu 7.2 hangs in the first
# pthread_create with that one.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
