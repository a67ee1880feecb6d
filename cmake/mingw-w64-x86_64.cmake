# Cross-building the 64-bit Windows program with Debian's mingw-w64
# (package g++-mingw-w64-x86-64), so that the source stays clean for both
# widths. The program shipped is the 32-bit one.
set(VARNOK_MINGW_CPU x86_64)
set(VARNOK_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
