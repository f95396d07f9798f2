# What `cmake --install` and the Debian package carry besides the two programs, and how CPack
# builds the package: `scripts/package` runs it.
include(GNUInstallDirs)

set(TUNALO_RELEASE_DATE 2026-12-10)
set(TUNALO_RELEASE_DATE_RFC "Thu, 10 Dec 2026 12:00:00 +0000")
set(TUNALO_PACKAGE_CONTACT "Tunalo developers <tunalo@example.org>"
    CACHE STRING "Maintainer of the Debian package, name and address")
set(CPACK_PACKAGE_CONTACT ${TUNALO_PACKAGE_CONTACT})
# The project's home page, which publishes the README and its pictures in docs/: the AppStream
# metadata's screenshots are read from there.
set(TUNALO_HOMEPAGE "https://example.org/tunalo" CACHE STRING "The project's home page, without a trailing slash")

set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)

install(FILES ${CMAKE_SOURCE_DIR}/assets/tunalo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/assets/icon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tunalo.png)
endforeach()
configure_file(${packaging}/org.example.tunalo.metainfo.xml.in ${generated}/org.example.tunalo.metainfo.xml @ONLY)
install(FILES ${generated}/org.example.tunalo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Debian keeps a native package's history as changelog.gz, compressed without a time stamp.
configure_file(${packaging}/changelog.in ${generated}/changelog @ONLY)
add_custom_command(OUTPUT ${generated}/changelog.gz
    COMMAND gzip -9nc ${generated}/changelog > ${generated}/changelog.gz
    DEPENDS ${generated}/changelog VERBATIM)
add_custom_target(tunalo_changelog ALL DEPENDS ${generated}/changelog.gz)
install(FILES ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The service's unit goes where systemd looks for a package's units; it is not enabled. It names
# the service by its installed path, which is known only when installing: /usr in the package,
# /usr/local or whatever --prefix says with cmake --install.
install(CODE "
    set(TUNALO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(TUNALO_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
    configure_file(\"${packaging}/tunalo-service.service.in\" \"${generated}/unit/tunalo-service.service\" @ONLY)
")
install(FILES ${generated}/unit/tunalo-service.service DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tunalo)
set(CPACK_PACKAGE_VENDOR "Tunalo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tells your friends which song you are listening to")
# Lines of the extended description stay under 80 characters; CPack does not wrap them, and
# writes the text into its own configuration between quotes, so it holds none.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tunalo is a small tray utility that watches one media player, shows the\n"
    "song in its window and, while publishing is on, posts every new song to\n"
    "the Tunalo web service. It finds Winamp, MediaMonkey, VLC media player and\n"
    "RealPlayer by the titles of their windows. Its choice Other player (MPRIS)\n"
    "follows whichever player announces its songs on the session bus\n"
    "(Rhythmbox, Strawberry, Elisa, Audacious, mpv, VLC, web browsers, Spotify),\n"
    "also on a Wayland desktop.\n"
    "\n"
    "The package also holds the reference web service, tunalo-service, with a\n"
    "systemd unit that is installed but not enabled.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TUNALO_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# On GNOME, Qt learns the desktop's font (and GTK's file dialogs and icons) only through its GTK
# platform theme, which Qt picks there by itself once installed; without it Tunalo draws at Qt's
# own 9 pt. The dark style it reads from the desktop portal either way.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-gtk-platformtheme)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
# Only the program, the service and their files; the tests' helpers install nothing.
set(CPACK_INSTALL_CMAKE_PROJECTS ${CMAKE_BINARY_DIR} ${PROJECT_NAME} ALL /)
include(CPack)
