# 64-bit Arm Linux (Debian g++-aarch64-linux-gnu, with the arm64 libraries of
# libffi-dev:arm64), tests under qemu-aarch64 (Debian qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(AM_LINUX_TRIPLE aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${AM_LINUX_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${AM_LINUX_TRIPLE}-g++)
# Debian's multiarch folders (/usr/include/aarch64-linux-gnu,
# /usr/lib/aarch64-linux-gnu) hold the arm64 libraries; the amd64 ones sit in
# folders of their own that this architecture never searches.
set(CMAKE_LIBRARY_ARCHITECTURE ${AM_LINUX_TRIPLE})

# Test executables run under user-mode emulation; -L gives it the arm64
# loader of the cross toolchain. The C library must be the one of that same
# loader: the host's library cache also lists the arm64 C library of the
# multiarch packages (libffi8:arm64 needs libc6:arm64), a different build
# that the loader does not work with (a program hangs in its first
# pthread_create), so the cross toolchain's libraries are searched first.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "qemu-aarch64;-L;/usr/${AM_LINUX_TRIPLE};-E;LD_LIBRARY_PATH=/usr/${AM_LINUX_TRIPLE}/lib")
