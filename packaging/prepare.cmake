# Run by CPack on each package's staged files, before it packs them: the
# .deb carries Debian's copyright file, changelog and any lintian override,
# the .tar.gz the plain licence; the program is stripped as Debian strips
# (dh_strip).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(path IN LISTS staged)
  get_filename_component(name "${path}" NAME)
  if(CPACK_GENERATOR STREQUAL "DEB" AND name STREQUAL "LICENSE")
    file(REMOVE "${path}")
  elseif(NOT CPACK_GENERATOR STREQUAL "DEB" AND name MATCHES "^(copyright|changelog\\.gz)$")
    file(REMOVE "${path}")
  elseif(NOT CPACK_GENERATOR STREQUAL "DEB" AND path MATCHES "^(.*/share/lintian)/overrides/")
    file(REMOVE_RECURSE "${CMAKE_MATCH_1}")
  elseif(path MATCHES "/bin/varnok$")
    execute_process(COMMAND ${CPACK_VARNOK_STRIP} --remove-section=.comment --remove-section=.note
                            --strip-unneeded "${path}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
