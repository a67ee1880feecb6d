# Cross-building the 32-bit Windows program with Debian's mingw-w64
# (package g++-mingw-w64-i686); its tests run under Wine.
set(VARNOK_MINGW_CPU i686)
set(VARNOK_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
