# Installation as a desktop program and the Debian packages built from it (cpack -G DEB).
include(GNUInstallDirs)

set(QUILLET_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# One build is one product release. Releases of one product share the product string's first
# word ("MERICON" in "MERICON 00.03.00.32"); the rest is that product's firmware version. So a
# product installs under its name, and a newer firmware drop of it replaces the older one.
string(REGEX MATCH "^[^ ]+" QUILLET_PRODUCT_NAME "${quillet_identity_product}")
set(QUILLET_PRODUCT_VERSION)
if(quillet_identity_product MATCHES "^[^ ]+ +(.*)$")
    set(QUILLET_PRODUCT_VERSION "${CMAKE_MATCH_1}")
endif()
string(TOLOWER "${QUILLET_PRODUCT_NAME}" QUILLET_PRODUCT_KEY)
string(REGEX REPLACE "[^a-z0-9]+" "" QUILLET_PRODUCT_KEY "${QUILLET_PRODUCT_KEY}")
if(QUILLET_PRODUCT_KEY STREQUAL "")
    message(FATAL_ERROR "The product string \"${quillet_identity_product}\" names no product")
endif()
set(QUILLET_PRODUCT "${quillet_identity_product}")
message(STATUS "Release: ${QUILLET_PRODUCT} (${QUILLET_RELEASE})")

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
    return()
endif()
if(NOT (UNIX AND NOT APPLE))
    install(TARGETS quillet quillet-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    return() # the desktop files, the udev rule and the package are Linux's
endif()

# Two packages: quillet-<product> with the programs named after the product, and quillet-common
# with what every product shares (the udev rule, the icon, the settings folder made by its
# postinst). In the build folder the programs keep the names quillet and quillet-cli.
set(QUILLET_LINUX_PROGRAM quillet-${QUILLET_PRODUCT_KEY} CACHE INTERNAL "for scripts/package.sh")
string(TOUPPER "${QUILLET_LINUX_PROGRAM}" QUILLET_LINUX_PROGRAM_UPPER)
set(QUILLET_APP_ID com.tessaly.quillet.${QUILLET_PRODUCT_KEY})
# The package's version: the firmware's version first, so that apt takes a new firmware drop
# as an upgrade, then the updater's (a new updater with the same firmware is one too).
string(REGEX REPLACE "[^A-Za-z0-9.~]+" "." QUILLET_DEB_VERSION "${QUILLET_PRODUCT_VERSION}")
if(NOT QUILLET_DEB_VERSION MATCHES "^[0-9]")
    set(QUILLET_DEB_VERSION "0~${QUILLET_DEB_VERSION}")
endif()
set(QUILLET_DEB_VERSION "${QUILLET_DEB_VERSION}+${PROJECT_VERSION}")
string(REGEX REPLACE "[.]+$|[.]+([+])" "\\1" QUILLET_DEB_VERSION "${QUILLET_DEB_VERSION}")
# The release's date ("Feb 18 2011") as AppStream wants it.
set(QUILLET_RELEASE_ISO_DATE 1970-01-01)
if(quillet_identity_date MATCHES "^([A-Z][a-z][a-z]) +([0-9]+) +([0-9][0-9][0-9][0-9])$")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months "${CMAKE_MATCH_1}" month)
    if(month GREATER_EQUAL 0)
        math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
        math(EXPR day "${CMAKE_MATCH_2}")
        set(year ${CMAKE_MATCH_3})
        string(LENGTH "${month}" n)
        if(n EQUAL 1)
            set(month 0${month})
        endif()
        string(LENGTH "${day}" n)
        if(n EQUAL 1)
            set(day 0${day})
        endif()
        set(QUILLET_RELEASE_ISO_DATE ${year}-${month}-${day})
    endif()
endif()

set(QUILLET_PKG_DIR ${PROJECT_BINARY_DIR}/packaging)
configure_file(${QUILLET_PACKAGING_DIR}/quillet.desktop.in ${QUILLET_PKG_DIR}/${QUILLET_APP_ID}.desktop @ONLY)
configure_file(${QUILLET_PACKAGING_DIR}/quillet.metainfo.xml.in
               ${QUILLET_PKG_DIR}/${QUILLET_APP_ID}.metainfo.xml @ONLY)
configure_file(${QUILLET_PACKAGING_DIR}/quillet.1.in ${QUILLET_PKG_DIR}/${QUILLET_LINUX_PROGRAM}.1 @ONLY)
configure_file(${QUILLET_PACKAGING_DIR}/quillet-cli.1.in ${QUILLET_PKG_DIR}/${QUILLET_LINUX_PROGRAM}-cli.1 @ONLY)

# The programs under the product's names, stripped as Debian's tools strip them.
foreach(program quillet quillet-cli)
    string(REPLACE quillet ${QUILLET_LINUX_PROGRAM} name ${program})
    install(PROGRAMS $<TARGET_FILE:${program}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${name}
            COMPONENT product)
    install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")
        endif()" COMPONENT product)
endforeach()
install(FILES ${QUILLET_PKG_DIR}/${QUILLET_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT product)
install(FILES ${QUILLET_PKG_DIR}/${QUILLET_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT product)
install(FILES ${QUILLET_PACKAGING_DIR}/com.tessaly.quillet.common.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT common)
install(FILES ${QUILLET_PACKAGING_DIR}/quillet.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT common)
# Debian 12 keeps the rules of packages in /lib/udev (the same place as /usr/lib/udev on a
# merged /usr, but lintian and dpkg go by the path in the package).
install(FILES ${QUILLET_PACKAGING_DIR}/60-quillet.rules DESTINATION /lib/udev/rules.d COMPONENT common)

# Documents Debian asks of every package, compressed as its tools do it (no name, no time).
set(docs changelog ${QUILLET_LINUX_PROGRAM}.1 ${QUILLET_LINUX_PROGRAM}-cli.1)
set(sources ${QUILLET_PACKAGING_DIR}/changelog ${QUILLET_PKG_DIR}/${QUILLET_LINUX_PROGRAM}.1
            ${QUILLET_PKG_DIR}/${QUILLET_LINUX_PROGRAM}-cli.1)
set(gzipped)
set(commands)
foreach(doc source IN ZIP_LISTS docs sources)
    list(APPEND gzipped ${QUILLET_PKG_DIR}/${doc}.gz)
    list(APPEND commands COMMAND gzip -9n -c ${source} > ${QUILLET_PKG_DIR}/${doc}.gz)
endforeach()
add_custom_command(OUTPUT ${gzipped} ${commands} DEPENDS ${sources} VERBATIM)
add_custom_target(quillet_package_docs ALL DEPENDS ${gzipped})
foreach(component common product)
    if(component STREQUAL common)
        set(package quillet-common)
    else()
        set(package ${QUILLET_LINUX_PROGRAM})
    endif()
    install(FILES ${QUILLET_PKG_DIR}/changelog.gz ${QUILLET_PACKAGING_DIR}/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${QUILLET_PKG_DIR}/${QUILLET_LINUX_PROGRAM}.1.gz ${QUILLET_PKG_DIR}/${QUILLET_LINUX_PROGRAM}-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT product)

# cpack -G DEB makes one package at a time: cpack -D QUILLET_DEB_PART=common|product (read by
# packaging/cpack-deb.cmake), since each has a version of its own.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillet developers <quillet@tessaly.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # <package>_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMMON_PACKAGE_NAME quillet-common)
set(CPACK_DEBIAN_COMMON_PACKAGE_ARCHITECTURE all)
set(CPACK_COMPONENT_COMMON_DESCRIPTION
    "firmware updater for boards with a serial bootloader - common files
This package holds what every product's updater shares: the udev rule
that gives the user at the seat access to common USB serial adapters and
keeps ModemManager away from them, the icon, and the machine-wide
settings file (the chosen port), which the dialout group may write.")
set(CPACK_DEBIAN_COMMON_PACKAGE_CONTROL_EXTRA
    ${QUILLET_PACKAGING_DIR}/debian/postinst ${QUILLET_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PRODUCT_PACKAGE_NAME ${QUILLET_LINUX_PROGRAM})
set(CPACK_DEBIAN_PRODUCT_PACKAGE_DEPENDS "quillet-common (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_PRODUCT_DESCRIPTION
    "firmware updater for ${QUILLET_PRODUCT}
Quillet updates microcontroller boards that carry a serial bootloader:
it finds the bootloader on a serial port, checks that the board fits the
firmware built into this release, and programs it in checksummed,
acknowledged frames.
.
This package is the release ${QUILLET_PRODUCT}: the window
${QUILLET_LINUX_PROGRAM} and the command-line tool ${QUILLET_LINUX_PROGRAM}-cli.")
set(QUILLET_COMMON_DEB_VERSION ${PROJECT_VERSION})
configure_file(${QUILLET_PACKAGING_DIR}/cpack-deb.cmake.in ${PROJECT_BINARY_DIR}/cpack-deb.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-deb.cmake)
include(CPack)
