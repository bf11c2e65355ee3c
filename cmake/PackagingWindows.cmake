# Windows: the program with exactly the DLLs it loads, as an NSIS installer and as a zip
# (cpack -G NSIS, cpack -G ZIP). Everything lies in one folder: quillet.exe, the Qt and mingw
# runtime DLLs beside it, and the platform plugin in platforms/.

# The programs installed; each one's DLLs are found from what it imports.
set(QUILLET_WINDOWS_PROGRAMS quillet quillet-cli)

# The DLLs are read from the executables' import tables with the cross toolchain's objdump
# (windeployqt does not run on Linux), and looked for in Qt's and the compiler's folders only:
# what is not found there (kernel32, user32, ...) belongs to Windows.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
find_program(QUILLET_MINGW_OBJDUMP ${QUILLET_MINGW_TRIPLE}-objdump REQUIRED)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND ${QUILLET_MINGW_OBJDUMP})
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE QUILLET_MINGW_STDCXX OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(QUILLET_MINGW_GCC_DIR ${QUILLET_MINGW_STDCXX} DIRECTORY)
get_filename_component(QUILLET_QT_BIN_DIR "${Qt6_DIR}/../../../bin" ABSOLUTE) # <qt>/lib/cmake/Qt6

install(TARGETS ${QUILLET_WINDOWS_PROGRAMS} RUNTIME DESTINATION .)
# The platform plugin, which Qt loads by name. No style plugin: the windows use Fusion.
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::QWindowsIntegrationPlugin
        LIBRARY DESTINATION platforms RUNTIME DESTINATION platforms)
# The DLLs the programs and the plugin import: Qt's, the compiler's runtime and libmosquitto. On this
# case-sensitive host CMake reports the imported names in lower case and cannot find
# "qt6core.dll" beside "Qt6Core.dll"; the names are matched here without regard to case.
set(QUILLET_DLL_DIRS ${QUILLET_QT_BIN_DIR} ${QUILLET_MINGW_GCC_DIR} /usr/${QUILLET_MINGW_TRIPLE}/lib
    ${QUILLET_WINDOWS_MQTT}/bin)
set(QUILLET_IMPORTERS)
foreach(program IN LISTS QUILLET_WINDOWS_PROGRAMS)
    list(APPEND QUILLET_IMPORTERS "$<TARGET_FILE:${program}>")
endforeach()
install(CODE "
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${QUILLET_MINGW_OBJDUMP}\")
    file(GET_RUNTIME_DEPENDENCIES
        EXECUTABLES ${QUILLET_IMPORTERS}
        MODULES \"$<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>\"
        RESOLVED_DEPENDENCIES_VAR found
        UNRESOLVED_DEPENDENCIES_VAR names
        PRE_INCLUDE_REGEXES \"^[Qq]t6[A-Za-z]+[.]dll$\" \"^lib(stdc[+][+]-6|gcc_s_seh-1|winpthread-1|mosquitto)[.]dll$\"
        PRE_EXCLUDE_REGEXES \".*\"
        DIRECTORIES ${QUILLET_DLL_DIRS})
    foreach(name IN LISTS names)
        set(match)
        foreach(dir ${QUILLET_DLL_DIRS})
            file(GLOB candidates \"\${dir}/*.dll\")
            foreach(candidate IN LISTS candidates)
                get_filename_component(file \"\${candidate}\" NAME)
                string(TOLOWER \"\${file}\" lower)
                if(lower STREQUAL name AND NOT match)
                    set(match \"\${candidate}\")
                endif()
            endforeach()
        endforeach()
        if(NOT match)
            message(FATAL_ERROR \"no \${name} in ${QUILLET_DLL_DIRS}\")
        endif()
        list(APPEND found \"\${match}\")
    endforeach()
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}\" TYPE SHARED_LIBRARY FILES \${found})
")
# The copied DLLs are stripped as the programs are: Debian's GCC runtime carries its debugging
# sections (libstdc++-6.dll would be 23 MB).
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
        foreach(dll IN LISTS dlls)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${dll}\")
        endforeach()
    endif()")

# The installer's grant of the settings key to standard users (run elevated by the installer).
add_executable(quillet-settings-access ${PROJECT_SOURCE_DIR}/packaging/windows/settings_access.cpp)
target_link_options(quillet-settings-access PRIVATE -municode -static)
target_link_libraries(quillet-settings-access PRIVATE advapi32)
target_compile_options(quillet-settings-access PRIVATE ${QUILLET_WARNINGS})
install(TARGETS quillet-settings-access RUNTIME DESTINATION .)

# One build is one product release: the installer's name carries the product string and the
# version. Every name the installer leaves on the machine carries the product (the first word of
# the product string), so products install side by side and a release replaces the previous
# release of its product: "Program Files\Quillet MERICON", its Start-menu entry, its uninstall
# entry, and its own key "Software\Tessaly\Quillet MERICON" (install folder, Start-menu folder).
# The settings key "Software\Tessaly\Quillet" is not the installer's: no uninstall removes it.
string(REGEX REPLACE "[^A-Za-z0-9.]+" "-" QUILLET_PRODUCT_FILE_TEXT "${quillet_identity_product}")
set(QUILLET_WINDOWS_NAME "Quillet ${QUILLET_PRODUCT_NAME}")
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME Quillet)
set(CPACK_PACKAGE_VENDOR Tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for boards with a serial bootloader")
set(CPACK_PACKAGE_FILE_NAME "Quillet-${QUILLET_PRODUCT_FILE_TEXT}-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${QUILLET_WINDOWS_NAME}")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${QUILLET_WINDOWS_NAME}")
set(CPACK_PACKAGE_EXECUTABLES quillet "${QUILLET_WINDOWS_NAME}") # the Start-menu entry
set(CPACK_STRIP_FILES ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(CPACK_NSIS_PACKAGE_NAME "${QUILLET_WINDOWS_NAME}") # also the Start-menu folder
set(CPACK_NSIS_DISPLAY_NAME "Quillet ${quillet_identity_product}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME quillet.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/quillet.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/windows/quillet.ico)
# The settings key, and the right of the local Users group to set values in it.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  ExecWait '\"$INSTDIR\\quillet-settings-access.exe\"' $0
  StrCmp $0 0 +2
  MessageBox MB_OK|MB_ICONEXCLAMATION 'Standard users cannot save the port choice (error $0).' /SD IDOK")
# Authenticode signatures when a certificate is given (packaging/windows/sign.sh): the programs
# before they are packed (CPACK_PRE_BUILD_SCRIPTS), the uninstaller when NSIS makes it, the
# installer last. A 64-bit installer (Debian's NSIS has the amd64-unicode stubs): it writes the
# uninstall entry into the registry view that 64-bit Windows programs read. CPack's template
# has no place for these top-level lines; the compressor's line comes early enough.
set(QUILLET_SIGN ${PROJECT_SOURCE_DIR}/packaging/windows/sign.sh)
set(CPACK_NSIS_COMPRESSOR "lzma
  Target amd64-unicode
  !uninstfinalize '\"${QUILLET_SIGN}\" \"%1\"'
  !finalize '\"${QUILLET_SIGN}\" \"%1\"'")
set(CPACK_VERBATIM_VARIABLES ON) # the quotes above reach NSIS as written
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackagingSign.cmake)
set(CPACK_QUILLET_SIGN ${QUILLET_SIGN})
include(CPack)
