# lu14 installed like a Linux tool (`cmake --install`): the program, its man
# page, the udev rule that lets the desktop's user open the meter and the
# completion of its command line for bash and zsh; and
# CPack's Debian package of the same files (`cpack` in the build folder).
include(GNUInstallDirs)

install(TARGETS lu14 RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT lu14)
install(FILES "${PROJECT_SOURCE_DIR}/resources/linux/lu14.1"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT lu14)
# udev reads its packaged rules from lib/udev/rules.d under the prefix (/usr).
install(FILES "${PROJECT_SOURCE_DIR}/resources/linux/70-lu14-meter.rules"
        DESTINATION "lib/udev/rules.d" COMPONENT lu14)
# bash-completion loads completions/lu14 the first time lu14 is completed;
# Debian's zsh has vendor-completions on its fpath.
install(FILES "${PROJECT_SOURCE_DIR}/resources/linux/lu14.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME lu14 COMPONENT lu14)
install(FILES "${PROJECT_SOURCE_DIR}/resources/linux/_lu14"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions" COMPONENT lu14)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lu14)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update the firmware and settings of the LU-14 tweezers meter")
set(CPACK_PACKAGE_DESCRIPTION
    "lu14 updates the firmware of the LU-14 tweezers LCR meter, shows its state and changes its options over USB HID. It saves the meter's settings before every update.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "LU-14 updater developers <lu14-updater@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links (libudev, the C++ runtime) become the
# package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the tool: nothing of the tests or of GoogleTest.
set(CPACK_COMPONENTS_ALL lu14)
include(CPack)
