# The Debian package: one package with both programs and their data, its
# library dependencies found by dpkg-shlibdeps. scripts/package configures a
# build with the /usr prefix and runs cpack on it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <developers@tolvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "robot ringer for online change ringing")
set(CPACK_PACKAGE_DESCRIPTION "Tolvane rings bells with a band in an online change-ringing tower. It
connects to a ringing server, joins the tower you pick and rings the bells
the server gives it, following the other ringers' strikes, obeying the calls
made in the tower and making its own composition's calls.
.
The package also holds tolvane-server, a practice ringing server with a
simulated band, and a systemd unit to run it on a club's machine.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, so dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
