# Cross-building for 32-bit ARM Linux (armhf: Raspberry Pi with a 32-bit
# system) with Debian's g++-arm-linux-gnueabihf; tests run under qemu-user.
# The time is 64 bits wide there too (CMakeLists.txt sets _TIME_BITS=64 for
# every POSIX build), so the record's time line holds past 2038.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(VARNOK_TRIPLE arm-linux-gnueabihf)
set(VARNOK_QEMU qemu-arm-static)
set(VARNOK_DEB_ARCH armhf)
set(VARNOK_PROCESSOR armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
