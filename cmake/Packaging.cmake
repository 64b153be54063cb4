# The Debian package: `cpack -G DEB` in the build folder makes lv26_<version>_<arch>.deb with
# everything `cmake --install` installs. dpkg-shlibdeps names the libraries' packages; the
# packages the programs load without linking them are named here.
set(CPACK_PACKAGE_NAME lv26)
set(CPACK_PACKAGE_VENDOR "Lv26")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hours of hourly-paid employees and their monthly payroll")
# The long description in lines Debian's tools show as they stand (under 80 characters).
set(CPACK_PACKAGE_DESCRIPTION
    "Lv26 keeps the weekly hours of hourly-paid employees in two SQLite tables,\n"
    "totals them into the month's hours and prints the monthly payroll listing\n"
    "(Folha de Pagamento) through the system's printers. Its windows are in\n"
    "Brazilian Portuguese.")
if(TARGET lv26-report)
    list(APPEND CPACK_PACKAGE_DESCRIPTION
        "\nThe lv26-report tool writes the same listing without a window.")
endif()
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "Lv26 maintainers <maintainers@lv26.invalid>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY lv26)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME lv26)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, never linked: the further Qt platform plugins QtGui recommends, and the
# fonts the listing and the windows are laid out with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")

include(CPack)
