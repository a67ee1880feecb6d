# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb and a .tar.gz on Linux, a ZIP for Windows from the MinGW build.

if(WIN32)
  # Everything side by side in one folder; text files with CR LF so that
  # Notepad shows them right.
  foreach(pair "README.md;README.txt" "doc/varnok.ini.example;varnok.ini.example")
    list(GET pair 0 from)
    list(GET pair 1 to)
    file(READ ${PROJECT_SOURCE_DIR}/${from} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/${to} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/${to} DESTINATION .)
  endforeach()
  install(TARGETS varnok RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  include(GNUInstallDirs)
  configure_file(doc/varnok.1.in varnok.1 @ONLY)
  add_custom_command(OUTPUT varnok.1.gz
    COMMAND gzip -9nc varnok.1 > varnok.1.gz
    DEPENDS ${PROJECT_BINARY_DIR}/varnok.1)
  add_custom_target(manpage ALL DEPENDS varnok.1.gz)
  install(TARGETS varnok RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/varnok.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md doc/varnok.ini.example DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "varnok developers <varnok@localhost>")
  # The program's own library needs, worked out from the binary.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME varnok)
set(CPACK_PACKAGE_VENDOR "varnok developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Changes the channel of a DCT2xxx cable-TV tuner over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "varnok sends a DCT2xxx cable box one key command per digit of a channel number over a serial port, for video recorders and people alike, and logs every run.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
