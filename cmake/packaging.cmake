# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb and a .tar.gz on Linux, a ZIP for Windows from the MinGW build.

# The man page's date: the release's, from SOURCE_DATE_EPOCH when it is set
# (scripts/package sets it to the last commit's), else the build's.
string(TIMESTAMP VARNOK_DATE "%Y-%m-%d" UTC)

if(WIN32)
  # Everything side by side in one folder, the folder the ZIP is unpacked
  # into; text files with CR LF so that Notepad shows them right.
  foreach(pair "doc/README-windows.txt;README.txt" "LICENSE;LICENSE.txt"
          "doc/varnok.ini.example;varnok.ini.example"
          "doc/examples/varnok-recorder.bat;varnok-recorder.bat")
    list(GET pair 0 from)
    list(GET pair 1 to)
    configure_file(${from} ${to} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/${to} DESTINATION .)
  endforeach()
  install(TARGETS varnok RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  configure_file(doc/varnok.ini.example varnok.ini.example @ONLY)
  configure_file(doc/varnok.1.in varnok.1 @ONLY)
  add_custom_command(OUTPUT varnok.1.gz
    COMMAND gzip -9nc varnok.1 > varnok.1.gz
    DEPENDS ${PROJECT_BINARY_DIR}/varnok.1)
  add_custom_command(OUTPUT changelog.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
  add_custom_target(packaged_docs ALL DEPENDS varnok.1.gz changelog.gz)
  install(TARGETS varnok RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/varnok.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(VARNOK_STATIC AND "DEB" IN_LIST VARNOK_PACKAGES)
    # A .deb with a static program says why (the tarball drops it).
    install(FILES packaging/debian/lintian-overrides-static RENAME varnok
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides)
  endif()
  install(FILES doc/guide.md LICENSE ${PROJECT_BINARY_DIR}/varnok.ini.example
                packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR ${VARNOK_PACKAGES})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "varnok developers <maintainers@varnok.org>")
  if(CMAKE_CROSSCOMPILING)
    # dpkg-shlibdeps knows only this machine's libraries: the cross builds'
    # Depends are read off the binary's symbol versions when it is packed.
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VARNOK_DEB_ARCH})
    set(CPACK_VARNOK_CROSS_DEPENDS ON)
  else()
    # The program's own library needs, worked out from the binary.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  # The tarball is named by processor and the oldest glibc it runs on, also
  # read off the binary when it is packed.
  set(CPACK_VARNOK_BINARY ${PROJECT_BINARY_DIR}/varnok)
  set(CPACK_VARNOK_READELF ${CMAKE_READELF})
  if(NOT VARNOK_PROCESSOR)
    set(VARNOK_PROCESSOR ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set(CPACK_VARNOK_PROCESSOR ${VARNOK_PROCESSOR})
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/release.cmake)
  # The strip that knows the target's binaries.
  set(CPACK_VARNOK_STRIP ${CMAKE_STRIP})
  # Each package keeps the files its kind expects, stripped as Debian strips.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/prepare.cmake)
endif()

set(CPACK_PACKAGE_NAME varnok)
set(CPACK_PACKAGE_VENDOR "the varnok developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "changes the channel of a DCT2xxx cable-TV tuner over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "varnok sends a DCT2xxx cable box one key command per digit of a channel
number over a serial port (9600 baud, 8N1), pausing after each digit, for
video recorders and people alike. Every run appends a record to a log file.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
