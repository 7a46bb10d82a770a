# Install rules and the Debian package: the daemon in /usr/sbin, its start script
# for SysV-style init and its unit for boards that boot with systemd, and the
# board's platform: stick names by USB port, the GPIO lines set up.
#
#   cmake --install build            # onto this machine (or DESTDIR=... for an image)
#   cd build-arm && cpack            # stickdup_<version>_armhf.deb (amd64 in build/)

# The start script and the unit name /usr/sbin/stickdupd: the prefix is /usr, which
# also puts the start script in /etc.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
include(GNUInstallDirs)

install(TARGETS stickdupd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/stickdupd.init
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d RENAME stickdupd)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/stickdupd.service DESTINATION lib/systemd/system)
# The board's platform (docs/board.md): the udev rules that name each USB port's stick,
# the helper that writes them for a board wired otherwise, and the GPIO set-up step
# that runs before the daemon.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/board/70-stickdup.rules DESTINATION lib/udev/rules.d)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/board/stickdup-ports ${CMAKE_CURRENT_LIST_DIR}/board/stickdup-gpio
        DESTINATION ${CMAKE_INSTALL_SBINDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stickdup)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_CONTACT "stickdup developers <stickdup@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Controller daemon of the USB-stick duplicator")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# update-rc.d registers the start script; start-stop-daemon and setsid are essential.
# A daemon linked against the shared crypto library needs it; the board's one-file
# build carries it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS init-system-helpers)
if(NOT STICKDUP_STATIC)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "init-system-helpers, libssl3")
endif()
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/deb/postinst
  ${CMAKE_CURRENT_LIST_DIR}/deb/prerm
  ${CMAKE_CURRENT_LIST_DIR}/deb/postrm
  ${CMAKE_CURRENT_LIST_DIR}/deb/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
