# `cpack -G DEB` in the build folder makes a Debian package of what `cmake --install` puts in
# place. dpkg-shlibdeps finds the libraries the program links; the rest are loaded at run time
# and listed by hand: Qt's platform plugins (a window at all), the SQLite driver (the database)
# and `zip` (note bundles).
set(CPACK_PACKAGE_NAME brevaro-notes)
set(CPACK_PACKAGE_VENDOR Brevaro)
set(CPACK_PACKAGE_CONTACT "Brevaro <support@brevaro.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Note-taking application: rich-text notes, notebooks, search")
set(CPACK_PACKAGE_DESCRIPTION
  "Brevaro Notes keeps rich-text notes in one local database, saves every change by itself and finds every note again by full-text search. Notes can be filed into notebooks, exported, backed up and synced with a notes server.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://brevaro.app)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite, zip")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnome-keyring)
include(CPack)
