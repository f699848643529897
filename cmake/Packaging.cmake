# The Debian package (make deb): everything `cmake --install` puts in place, under /usr, with
# the shared libraries' packages found by dpkg-shlibdeps and the run-time pieces no library
# names (the Qt platform plugins, the font, the desktop's opener, the ranking service's SQLite
# driver) added by hand.
set(ZELKA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zelka)
install(FILES ${PROJECT_SOURCE_DIR}/resources/deb/copyright DESTINATION ${ZELKA_DOC_DIR})
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/resources/deb/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/deb/changelog)
add_custom_target(zelka_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${ZELKA_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/deb/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zelka)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelka)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvane <zelka@orvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE http://www.orvane.example/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# libepoxy opens EGL and OpenGL itself at run time: the loader and Mesa's drivers are named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-wayland, fonts-ipafont-gothic, xdg-utils, libegl1, libgl1, libegl-mesa0 | libegl-vendor")
if(ZELKA_WITH_RANK)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6sql6-sqlite")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libqt6sql6-psql")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop PC benchmark of processor, 2-D and 3-D drawing and disk")
# The extended description; CPack indents its lines and marks the empty one as a paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ゼルカ (zelka) runs up to five tests in a fixed order, each doing fixed work
for a fixed time: processor arithmetic, 2-D drawing, DirectDraw-style
blitting, Direct3D-style textured quads and disk writes, and shows an integer
score for each with an overall rating. The graphics tests run on the
program's own software implementation of those interfaces.

Results are written as a text file, compared side by side with stored
results, and posted to a ranking through a local page; zelka-rank is the
ranking service that takes those posts.")
include(CPack)
