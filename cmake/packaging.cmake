# Installation and the packages.
#   cmake --install build [--prefix /usr]     binaries, man pages, desktop file, AppStream
#                                             metainfo, icons, udev rule, the sample .dat,
#                                             tarvix-flash's bash, zsh and fish completions,
#                                             NEWS as the changelog and the copyright file
#   cmake --build build --target package      tarvix-update_<version>_<arch>.deb and, where
#                                             rpmbuild exists, tarvix-update-<version>-1.<arch>.rpm
include(GNUInstallDirs)

# udev reads /usr/lib/udev/rules.d (and /etc/udev/rules.d). With a prefix other than /usr, point
# this at a folder udev reads, or copy the rule there by hand.
set(TARVIX_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule is installed, relative to the prefix unless absolute")

install(TARGETS tarvix-update tarvix-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The man pages are installed compressed, as distributions ship them: gzip -9n, without a name or a
# time stamp, so that two builds give the same bytes. tarvix-update(1) tells about the demo too;
# tarvix-update-demo(1) is a link to it.
set(TARVIX_MAN_DIR ${CMAKE_BINARY_DIR}/man)
find_program(TARVIX_GZIP gzip REQUIRED)
set(tarvix_man_pages "")
foreach(page tarvix-update.1 tarvix-flash.1)
  add_custom_command(OUTPUT ${TARVIX_MAN_DIR}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/${page} ${TARVIX_MAN_DIR}/${page}
    COMMAND ${TARVIX_GZIP} -9nf ${TARVIX_MAN_DIR}/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  list(APPEND tarvix_man_pages ${TARVIX_MAN_DIR}/${page}.gz)
endforeach()
# The Chinese pages (docs/man/zh_CN), with break points between Chinese characters for groff.
find_program(TARVIX_PERL perl REQUIRED)
set(tarvix_zh_man_pages "")
file(MAKE_DIRECTORY ${TARVIX_MAN_DIR}/zh_CN)
foreach(page tarvix-update.1 tarvix-flash.1)
  set(zh_page ${TARVIX_MAN_DIR}/zh_CN/${page})
  add_custom_command(OUTPUT ${zh_page}.gz
    COMMAND ${TARVIX_PERL} ${PROJECT_SOURCE_DIR}/cmake/man-cjk-breaks.pl
            < ${PROJECT_SOURCE_DIR}/docs/man/zh_CN/${page} > ${zh_page}
    COMMAND ${TARVIX_GZIP} -9nf ${zh_page}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/zh_CN/${page} ${PROJECT_SOURCE_DIR}/cmake/man-cjk-breaks.pl
    VERBATIM)
  list(APPEND tarvix_zh_man_pages ${zh_page}.gz)
endforeach()
file(CREATE_LINK tarvix-update.1.gz ${TARVIX_MAN_DIR}/zh_CN/tarvix-update-demo.1.gz SYMBOLIC)
add_custom_target(tarvix_man_pages ALL DEPENDS ${tarvix_man_pages} ${tarvix_zh_man_pages})
install(FILES ${tarvix_zh_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/zh_CN/man1)
file(MAKE_DIRECTORY ${TARVIX_MAN_DIR})
file(CREATE_LINK tarvix-update.1.gz ${TARVIX_MAN_DIR}/tarvix-update-demo.1.gz SYMBOLIC)
install(FILES ${tarvix_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/io.github.tarvix.tarvix_update.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/tarvix-demo.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvix-update)
if(TARGET tarvix-update-demo)
  install(TARGETS tarvix-update-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${TARVIX_MAN_DIR}/tarvix-update-demo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${TARVIX_MAN_DIR}/zh_CN/tarvix-update-demo.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/zh_CN/man1)
endif()
# tarvix-flash's completion scripts, where bash-completion, zsh (Debian's vendor folder) and fish
# look for them.
set(TARVIX_ZSH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions" CACHE STRING
    "Where the zsh completion of tarvix-flash is installed (Fedora: share/zsh/site-functions)")
install(FILES ${TARVIX_COMPLETION_DIR}/tarvix-flash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${TARVIX_COMPLETION_DIR}/_tarvix-flash DESTINATION ${TARVIX_ZSH_COMPLETION_DIR})
install(FILES ${TARVIX_COMPLETION_DIR}/tarvix-flash.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
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
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/tarvix/tarvix-update")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the Tarvix USB gamepad")
# One line each, short enough for the package managers' 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "A small dialog that finds a Tarvix gamepad on USB, shows its firmware version\n"
    "and writes a new firmware from a .dat file, in the controller's boot loader or\n"
    "while it runs. Includes tarvix-flash, its command-line companion (list,\n"
    "inspect, flash and verify from scripts), tarvix-update-demo, the same dialog on\n"
    "a virtual controller, and a udev rule that lets the user at the seat use the\n"
    "controller without root.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RPM_PACKAGE_LICENSE "MIT")
set(CPACK_PACKAGE_CONTACT "Tarvix Update maintainers <tarvix-update@tarvix.github.io>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

# The documents every package carries in /usr/share/doc/tarvix-update: NEWS as changelog.gz (it is
# written in Debian's changelog format) and the copyright file in Debian's machine-readable format,
# its licence text taken from LICENSE.
set(TARVIX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/NEWS ${CMAKE_BINARY_DIR}/doc/changelog
  COMMAND ${TARVIX_GZIP} -9nf ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/NEWS VERBATIM)
add_custom_target(tarvix_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)

function(tarvix_write_copyright license_file out)
  file(READ ${license_file} license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" holder "${license}")
  set(TARVIX_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*\nCopyright[^\n]*\n\n" "" text "${license}")
  string(STRIP "${text}" text)
  # Each line of a field's continuation starts with a space; an empty line is a lone dot.
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text "${text}")
  set(TARVIX_LICENSE_TEXT " ${text}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${out} @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license_file})
endfunction()
tarvix_write_copyright(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/doc/copyright)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_BINARY_DIR}/doc/copyright
        DESTINATION ${TARVIX_DOC_DIR})

# make package: the .deb, and the .rpm where rpmbuild exists (Debian's package rpm).
find_program(TARVIX_RPMBUILD rpmbuild)
if(TARVIX_RPMBUILD)
  set(CPACK_GENERATOR "DEB;RPM")
else()
  set(CPACK_GENERATOR "DEB")
  message(STATUS "rpmbuild not found (package rpm): make package builds the .deb only")
endif()

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
      "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), qt6-qpa-plugins, libhidapi-hidraw0, libudev1, libnettle8, libstdc++6, libc6")
endif()
# Qt's own texts (file dialog, buttons) in Chinese come from Qt's translations; bash-completion
# loads the completion script installed for bash (the script itself needs only bash).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "udev, fonts-wqy-zenhei | fonts-noto-cjk, qt6-translations-l10n, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/cmake/debian/postinst;${PROJECT_SOURCE_DIR}/cmake/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# The RPM: its requirements come from rpmbuild's scan of the binaries. The folders that the
# system's own packages (filesystem, man, hicolor-icon-theme, systemd-udev) own stay theirs.
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# Qt's translations (Fedora's name), a weak dependency as on Debian. CPack drops its own weak
# dependency variables when `rpm --suggests` fails, as it does with rpm 4.18: the tag goes in the
# RPM's preamble as it is.
set(CPACK_RPM_SPEC_MORE_DEFINE "Recommends: qt6-qttranslations\nRecommends: bash-completion")
# The udev rule and the sample file work only where they are installed.
set(CPACK_PACKAGE_RELOCATABLE OFF)
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
     /usr/share/man /usr/share/man/man1 /usr/share/man/zh_CN /usr/share/man/zh_CN/man1
     /usr/share/applications /usr/share/metainfo
     /usr/share/icons /usr/share/icons/hicolor /usr/share/icons/hicolor/32x32
     /usr/share/icons/hicolor/32x32/apps /usr/share/icons/hicolor/scalable
     /usr/share/icons/hicolor/scalable/apps /usr/lib/udev /usr/lib/udev/rules.d
     /usr/share/bash-completion /usr/share/bash-completion/completions /usr/share/zsh
     /usr/share/zsh/vendor-completions /usr/share/fish /usr/share/fish/vendor_completions.d)
set(CPACK_RPM_POST_INSTALL_SCRIPT_FILE "${PROJECT_SOURCE_DIR}/cmake/rpm/post")
set(CPACK_RPM_POST_UNINSTALL_SCRIPT_FILE "${PROJECT_SOURCE_DIR}/cmake/rpm/postun")
# The RPM's %changelog from NEWS: "* Tue Dec 08 2026 Name <mail> - 2.60-1" and "- " for each item.
function(tarvix_rpm_changelog news out)
  file(READ ${news} text)
  string(REPLACE "%" "%%" text "${text}")
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(changelog "")
  set(items "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
      set(version "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  \\* (.+)")
      string(APPEND items "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.+)")
      string(APPEND items "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+)  ([A-Z][a-z][a-z]), ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
      string(APPEND changelog "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} ${CMAKE_MATCH_5} "
                              "${CMAKE_MATCH_1} - ${version}-${CPACK_RPM_PACKAGE_RELEASE}\n${items}\n")
      set(items "")
    endif()
  endforeach()
  file(WRITE ${out} "${changelog}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${news})
endfunction()
# NEWS's entries again as the RPM's %changelog.
tarvix_rpm_changelog(${PROJECT_SOURCE_DIR}/NEWS ${CMAKE_BINARY_DIR}/doc/rpm-changelog)
set(CPACK_RPM_CHANGELOG_FILE "${CMAKE_BINARY_DIR}/doc/rpm-changelog")

include(CPack)

# What the packages hold, built without the tests: make package builds this, then runs cpack.
add_custom_target(tarvix_packaged DEPENDS tarvix-update tarvix-flash tarvix_demo_dat
                                          tarvix_man_pages tarvix_changelog tarvix_completions)
if(TARGET tarvix-update-demo)
  add_dependencies(tarvix_packaged tarvix-update-demo)
endif()
