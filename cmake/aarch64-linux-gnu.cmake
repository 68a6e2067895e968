# Cross build for 64-bit Arm glibc with Debian's cross compiler and arm64 multiarch packages.
# Target programs (tests, and the tool the black-box tests start) run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)

# Headers and libraries of the target only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_LIBRARY_ARCHITECTURE ${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The arm64 packages install under /usr/lib/aarch64-linux-gnu, outside the root path above.
list(APPEND CMAKE_FIND_ROOT_PATH /)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${triple}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Programs load the arm64 multiarch libc (libc6:arm64) through /lib/ld-linux-aarch64.so.1. The
# cross toolchain's own copy under /usr/aarch64-linux-gnu hangs in pthread_create under
# qemu-user 7.2, so it is only linked against, never run.
find_program(OSTREL_QEMU qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTREL_QEMU})
