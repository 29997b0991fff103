# Cross build for the board (armhf) with Debian's arm-linux-gnueabihf toolchain and the
# multiarch -dev packages of the dependencies (dpkg --add-architecture armhf).
# Programs built for the board run on this machine under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# The emulator runs the programs with the board's multiarch libraries
# (libc6 and libstdc++6 of that architecture) and their loader under /lib.
# Not with -L and the cross compiler's own libc: qemu 7.2 hangs in the first
# pthread_create with that one.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
