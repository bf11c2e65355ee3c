# Installation as a desktop program and the Debian package built from it (cpack -G DEB).
include(GNUInstallDirs)

set(QUILLET_APP_ID com.tessaly.quillet)
set(QUILLET_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
    return()
endif()
install(TARGETS quillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT (UNIX AND NOT APPLE))
    return() # the desktop files, the udev rule and the package are Linux's
endif()
install(FILES ${QUILLET_PACKAGING_DIR}/${QUILLET_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUILLET_PACKAGING_DIR}/quillet.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QUILLET_PACKAGING_DIR}/${QUILLET_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Debian 12 keeps the rules of packages in /lib/udev (the same place as /usr/lib/udev on a
# merged /usr, but lintian and dpkg go by the path in the package).
install(FILES ${QUILLET_PACKAGING_DIR}/60-quillet.rules DESTINATION /lib/udev/rules.d)

# Documents Debian asks of every package, compressed as its tools do it (no name, no time).
set(QUILLET_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/packaging)
add_custom_command(
    OUTPUT ${QUILLET_DOC_BUILD_DIR}/changelog.gz ${QUILLET_DOC_BUILD_DIR}/quillet.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLET_DOC_BUILD_DIR}
    COMMAND gzip -9n -c ${QUILLET_PACKAGING_DIR}/changelog > ${QUILLET_DOC_BUILD_DIR}/changelog.gz
    COMMAND gzip -9n -c ${QUILLET_PACKAGING_DIR}/quillet.1 > ${QUILLET_DOC_BUILD_DIR}/quillet.1.gz
    DEPENDS ${QUILLET_PACKAGING_DIR}/changelog ${QUILLET_PACKAGING_DIR}/quillet.1
    VERBATIM)
add_custom_target(quillet_package_docs ALL
    DEPENDS ${QUILLET_DOC_BUILD_DIR}/changelog.gz ${QUILLET_DOC_BUILD_DIR}/quillet.1.gz)
install(FILES ${QUILLET_DOC_BUILD_DIR}/changelog.gz ${QUILLET_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillet)
install(FILES ${QUILLET_DOC_BUILD_DIR}/quillet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillet developers <quillet@tessaly.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for boards with a serial bootloader")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillet updates microcontroller boards that carry a serial bootloader:
it finds the bootloader on a serial port, checks that the board fits the
firmware built into this release, and programs it in checksummed,
acknowledged frames.
.
The package gives the user at the seat access to common USB serial
adapters and keeps ModemManager away from them.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # quillet_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${QUILLET_PACKAGING_DIR}/debian/postinst ${QUILLET_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
