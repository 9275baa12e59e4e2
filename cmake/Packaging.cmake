# Desktop integration and the Debian package.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/torvik7-setup.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/torvik7ctl.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The licence, in the machine-readable form Debian asks of every package.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/torvik7-setup)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvik7-setup)
set(CPACK_PACKAGE_VENDOR "torvik7-setup")
set(CPACK_PACKAGE_CONTACT "torvik7-setup developers <dev@torvik7.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Утилита настройки прибора ТОРВИК-7 / ТОРВИК-7 setup utility")
set(CPACK_PACKAGE_DESCRIPTION
    "Edits the ТОРВИК-7 settings record, keeps it in *.stg files and reads or writes it\n"
    "into the device over a serial port through the ГРЕМУС interface unit.\n"
    "Includes torvik7ctl, the command-line tool for files, images and the device.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The linked Qt libraries are found by dpkg-shlibdeps. The platform and SVG icon plugins
# and the Russian translations are loaded at run time, so they are named here; so is the
# SQLite driver of the exchange journal.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, libqt6sql6-sqlite")
# The PostgreSQL driver is loaded only when a team's journal server is configured.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-dejavu-core, libqt6sql6-psql")
set(CPACK_STRIP_FILES ON)
include(CPack)
