# Installation as a desktop program, and the Debian package.
include(GNUInstallDirs)

set(desktop_dir ${PROJECT_SOURCE_DIR}/resources/desktop)
set(art_dir ${PROJECT_SOURCE_DIR}/resources/data)
set(metainfo ${desktop_dir}/${LINKMEND_APP_ID}.metainfo.xml)

install(FILES ${desktop_dir}/${LINKMEND_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 64 128)
  install(FILES ${art_dir}/ICON_${size}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${LINKMEND_APP_ID}.png)
endforeach()
install(FILES ${art_dir}/ICON DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${LINKMEND_APP_ID}.png)
install(FILES ${art_dir}/ICON_SVG DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${LINKMEND_APP_ID}.svg)

# This version's release date, from its entry in the metainfo: the manual
# page's date.
file(STRINGS ${metainfo} release REGEX "<release version=\"${PROJECT_VERSION}\"")
if(NOT release MATCHES "date=\"([0-9]+-[0-9]+-[0-9]+)\"")
  message(FATAL_ERROR "${metainfo} has no release ${PROJECT_VERSION} with its date")
endif()
set(release_date ${CMAKE_MATCH_1})

# The manual page and the shell completions, made when the program is built
# from the manual's text, which the program carries for --help.
set(manual_text ${PROJECT_SOURCE_DIR}/cli/linkmend.1.txt)
set(made ${PROJECT_BINARY_DIR}/package)
set(made_files ${made}/linkmend.1.gz)
add_custom_command(OUTPUT ${made}/linkmend.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${made}
  COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/manpage.sh ${manual_text} ${PROJECT_VERSION} ${release_date}
          ${made}/linkmend.1.gz
  DEPENDS ${manual_text} ${PROJECT_SOURCE_DIR}/scripts/manpage.sh
  COMMENT "Making the manual page linkmend(1)"
  VERBATIM)
set(completion_dir ${PROJECT_SOURCE_DIR}/resources/completion)
foreach(completion linkmend.bash _linkmend linkmend.fish)
  add_custom_command(OUTPUT ${made}/${completion}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${made}
    COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/completions.sh ${manual_text} ${completion_dir}/${completion}.in
            ${made}/${completion}
    DEPENDS ${manual_text} ${completion_dir}/${completion}.in ${PROJECT_SOURCE_DIR}/scripts/completions.sh
    COMMENT "Making the shell completion ${completion}"
    VERBATIM)
  list(APPEND made_files ${made}/${completion})
endforeach()
add_custom_command(OUTPUT ${made}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${made}
  COMMAND sh -c "gzip -9n <\"$1\" >\"$2\"" sh ${PROJECT_SOURCE_DIR}/resources/debian/changelog
          ${made}/changelog.Debian.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog
  VERBATIM)
list(APPEND made_files ${made}/changelog.Debian.gz)
add_custom_target(package_files ALL DEPENDS ${made_files})

install(FILES ${made}/linkmend.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Each shell looks for the completion under the name typed, and man for the
# page, so the upper-case name is a link to the same file.
file(MAKE_DIRECTORY ${made}/links/bash ${made}/links/fish ${made}/links/man)
file(CREATE_LINK linkmend ${made}/links/bash/Linkmend SYMBOLIC)
file(CREATE_LINK linkmend.fish ${made}/links/fish/Linkmend.fish SYMBOLIC)
file(CREATE_LINK linkmend.1.gz ${made}/links/man/Linkmend.1.gz SYMBOLIC)
install(FILES ${made}/links/man/Linkmend.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${made}/linkmend.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME linkmend)
install(FILES ${made}/links/bash/Linkmend DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${made}/_linkmend DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${made}/linkmend.fish ${made}/links/fish/Linkmend.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/linkmend)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${made}/changelog.Debian.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME linkmend)
set(CPACK_PACKAGE_VENDOR Tessivane)
set(CPACK_PACKAGE_CONTACT "Tessivane <support@tessivane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Find, repair and remove broken Windows shortcuts")
# The extended description, in lines short enough for package tools.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Linkmend walks a whole drive and opens every Windows shortcut (.lnk file)"
  "on it. A shortcut whose target has moved is found again and repaired in"
  "place; every shortcut whose target is still missing is listed, ready to be"
  "moved to the trash. Drive letters follow the Wine prefix, or Linkmend's own"
  "map of the disks. It has a window, and the commands check, show and trash"
  "for the terminal.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The packaging's own revision: the package is linkmend_<version>-<revision>,
# with its changelog in resources/debian/changelog.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The program without its debugging information, which is most of its size.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tessivane.example/")
# Installed-Size as dpkg counts it, which CPack does not (see the script).
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebInstalledSize.cmake)
include(CPack)
