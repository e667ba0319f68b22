# Installation and the Debian package.
#   cmake --install build [--prefix /usr]     binaries, man pages, desktop file, AppStream
#                                             metainfo, icons, udev rule, the sample .dat
#   cd build && cpack -G DEB                  tarvix-update_<version>_<arch>.deb
include(GNUInstallDirs)

# udev reads /usr/lib/udev/rules.d (and /etc/udev/rules.d). With a prefix other than /usr, point
# this at a folder udev reads, or copy the rule there by hand.
set(TARVIX_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule is installed, relative to the prefix unless absolute")

install(TARGETS tarvix-update tarvix-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/tarvix-update.1 ${PROJECT_SOURCE_DIR}/docs/man/tarvix-flash.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/io.github.tarvix.TarvixUpdate.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/tarvix-demo.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvix-update)
if(TARGET tarvix-update-demo)
  install(TARGETS tarvix-update-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvix-update.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvix-update.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvix-update.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/70-tarvix-update.rules DESTINATION ${TARVIX_UDEV_RULES_DIR})
install(CODE [[
  if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT DEFINED ENV{DESTDIR})
    message(STATUS "Note: udev reads its rules from /usr/lib/udev/rules.d and /etc/udev/rules.d; "
                   "copy 70-tarvix-update.rules there (see README) unless TARVIX_UDEV_RULES_DIR "
                   "already points at one of them.")
  endif()
]])

set(CPACK_PACKAGE_NAME "tarvix-update")
set(CPACK_PACKAGE_VENDOR "Tarvix")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the Tarvix USB gamepad")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "A small dialog that finds a Tarvix gamepad on USB, shows its firmware version and writes a "
    "new firmware from a .dat file, in the controller's boot loader or while it runs. Includes "
    "tarvix-flash, its command-line companion (list, inspect, flash and verify from scripts), "
    "tarvix-update-demo, the same dialog on a virtual controller, and a udev rule that lets the "
    "user at the seat use the controller without root.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RPM_PACKAGE_LICENSE "MIT")
set(CPACK_PACKAGE_CONTACT "Tarvix Update maintainers <tarvix-update@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The shared libraries (Qt, hidapi-hidraw, udev) are found by dpkg-shlibdeps; Qt also needs a
# platform plugin to open a window, and Chinese needs a font that has it.
# Without dpkg-shlibdeps (package dpkg-dev) the list is given by hand.
find_program(TARVIX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARVIX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), qt6-qpa-plugins, libhidapi-hidraw0, libudev1, libstdc++6, libc6")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, fonts-wqy-zenhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/cmake/debian/postinst;${PROJECT_SOURCE_DIR}/cmake/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
