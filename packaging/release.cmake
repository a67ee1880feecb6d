# Read by CPack before it makes each package: what the package's name and
# Depends take from the program itself, so that a bare `cpack` in a build
# folder makes the same packages as scripts/package.
#   - the tarball is named by processor and the oldest glibc the program
#     runs on ("static" where it needs none);
#   - a cross-built .deb depends on libc, and where the program needs it on
#     libgcc_s, at the versions the program's symbols ask for:
#     dpkg-shlibdeps knows only the building machine's libraries. A static
#     program depends on nothing.
if(NOT CPACK_GENERATOR MATCHES "^(DEB|TGZ)$" OR NOT CPACK_VARNOK_BINARY)
  return()
endif()

execute_process(COMMAND ${CPACK_VARNOK_READELF} -V -d ${CPACK_VARNOK_BINARY}
                OUTPUT_VARIABLE elf COMMAND_ERROR_IS_FATAL ANY)

# The highest version of PREFIX_x.y the program asks for, or "".
function(highest_version prefix out)
  string(REGEX MATCHALL "${prefix}_[0-9.]+" found "${elf}")
  set(top "")
  foreach(symbol IN LISTS found)
    string(REPLACE "${prefix}_" "" version "${symbol}")
    if(top STREQUAL "" OR version VERSION_GREATER top)
      set(top ${version})
    endif()
  endforeach()
  set(${out} "${top}" PARENT_SCOPE)
endfunction()

highest_version(GLIBC glibc)
if(CPACK_GENERATOR STREQUAL "TGZ")
  if(glibc STREQUAL "")
    set(runs_on static)
  else()
    set(runs_on glibc${glibc})
  endif()
  set(CPACK_PACKAGE_FILE_NAME
      "varnok-${CPACK_PACKAGE_VERSION}-linux-${CPACK_VARNOK_PROCESSOR}-${runs_on}")
elseif(CPACK_VARNOK_CROSS_DEPENDS AND NOT glibc STREQUAL "")
  set(depends "libc6 (>= ${glibc})")
  if(elf MATCHES "NEEDED[^\n]*\\[libgcc_s\\.so\\.1\\]")
    highest_version(GCC gcc)
    string(APPEND depends ", libgcc-s1 (>= ${gcc})")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
endif()
