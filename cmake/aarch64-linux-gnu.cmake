# Cross-building for 64-bit ARM Linux (Raspberry Pi 3/4/5 with a 64-bit
# system) with Debian's g++-aarch64-linux-gnu; tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VARNOK_TRIPLE aarch64-linux-gnu)
set(VARNOK_QEMU qemu-aarch64-static)
set(VARNOK_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
