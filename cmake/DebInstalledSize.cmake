# Run by CPack once it has built the Debian package (CPACK_POST_BUILD_SCRIPTS).
# CPack's Installed-Size adds up the files it packs, and counts a symbolic
# link as the whole file it leads to, so the lower-case link to the program
# counted the program twice. This sets the field as dpkg-gencontrol counts it
# (each file in whole KiB, each folder and link as one) and packs the
# package again.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)

  set(kib 0)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true ${tree}/*)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^${tree}/DEBIAN(/|$)")
      continue()
    endif()
    if(IS_SYMLINK ${entry} OR IS_DIRECTORY ${entry})
      math(EXPR kib "${kib} + 1")
    else()
      file(SIZE ${entry} bytes)
      math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
    endif()
  endforeach()

  file(READ ${tree}/DEBIAN/control control)
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control "${control}")
  file(WRITE ${tree}/DEBIAN/control "${control}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
