# Installation as a desktop program, and the Debian package.
include(GNUInstallDirs)

set(LINKMEND_APP_ID com.tessivane.Linkmend)
set(desktop_dir ${PROJECT_SOURCE_DIR}/resources/desktop)
set(art_dir ${PROJECT_SOURCE_DIR}/resources/data)

install(FILES ${desktop_dir}/${LINKMEND_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_dir}/${LINKMEND_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 64 128)
  install(FILES ${art_dir}/ICON_${size}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${LINKMEND_APP_ID}.png)
endforeach()
install(FILES ${art_dir}/ICON DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${LINKMEND_APP_ID}.png)
install(FILES ${art_dir}/ICON_SVG DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${LINKMEND_APP_ID}.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME linkmend)
set(CPACK_PACKAGE_VENDOR Tessivane)
set(CPACK_PACKAGE_CONTACT "Tessivane <support@tessivane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Find, repair and remove broken Windows shortcuts")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.tessivane.example/")
include(CPack)
