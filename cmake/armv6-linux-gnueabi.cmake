# Cross-building for every 32-bit ARM Linux, the Raspberry Pi Zero and Pi 1
# (ARMv6, an ARM1176) included, with Debian's armel cross compiler
# (g++-arm-linux-gnueabi); tests run under qemu-user on that processor.
# Debian's armhf libraries are built for ARMv7 with Thumb-2, which an ARMv6
# cannot run, so the program is linked statically against armel's: it then
# runs on any ARM Linux from kernel 3.2, whatever its C library and its
# float ABI, and goes into the armhf .deb as it is. The time is 64 bits
# wide there too (CMakeLists.txt sets _TIME_BITS=64 for every POSIX build),
# so the record's time line holds past 2038.
set(CMAKE_SYSTEM_PROCESSOR armv6l)
set(VARNOK_TRIPLE arm-linux-gnueabi)
set(VARNOK_QEMU qemu-arm-static -cpu arm1176)
set(VARNOK_DEB_ARCH armhf)
set(VARNOK_PROCESSOR armv6)
# Kept apart from CMAKE_CXX_FLAGS, which a release build gives whole.
set(VARNOK_ARCH_FLAGS -march=armv6 -marm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
