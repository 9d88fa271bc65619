# The Debian package, made by CPack from the same install rules as
# scripts/install-program.sh: quorvane_<version>_<arch>.deb under /usr, its
# library dependencies computed by dpkg-shlibdeps. The maintainer scripts
# create the group quorvane when it is missing and give the helper its group,
# mode and capability (postinst), and take back only what they set up
# (postrm: the group only if postinst made it and no one is in it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop IPv4 packet sniffer")
set(CPACK_PACKAGE_DESCRIPTION "Pick one local IPv4 interface address, start a capture, and every IPv4 datagram that passes it appears as a row. Members of the group quorvane may capture every IPv4 datagram on every interface of the machine, in promiscuous mode, through a small capture helper that holds cap_net_raw; they cannot transmit, and the program itself holds no capability and no packet socket.")
set(CPACK_PACKAGE_CONTACT "Quorvane developers <quorvane@tembrook.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap in postinst; groupadd and groupdel come with passwd.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
