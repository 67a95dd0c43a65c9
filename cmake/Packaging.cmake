# The Debian package. `cpack -G DEB` in a build configured for /usr (the `pkg` preset:
# `cmake --workflow --preset pkg`) makes quorvane_<version>_<arch>.deb with the program,
# quorvane-report, the desktop entry, the icons, the AppStream metainfo, and quorvane-report's
# systemd units and their settings. Its library dependencies come from dpkg-shlibdeps, so they
# match what the binaries really link.
set(QUORVANE_METAINFO_ID org.quorvane.quorvane)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/metainfo/${QUORVANE_METAINFO_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(QUORVANE_PACKAGE_MAINTAINER "Quorvane Developers <developers@quorvane.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Hotline file server transfer log analyser")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvane reads a Hotline file server's download log and upload log and shows who\n"
    "downloads and who uploads: every transfer, the totals and their ratio, the average\n"
    "number of transfers per address, and each user's downloads, uploads, ratio and\n"
    "uploaded files. It can merge two names of one user and drop rows before analysing.\n"
    "It never changes a log file. quorvane-report gives the same answers on the command\n"
    "line, and its systemd units keep a web page of the report up to date on the\n"
    "server.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# Debian installs under /usr whatever prefix the build was configured for. The install runs with
# that prefix under DESTDIR, so the systemd units name /usr's paths and the settings go to /etc.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUORVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# /etc/default/quorvane-report is the operator's: an upgrade keeps their edits.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles)
# The window needs a platform plugin: X11's comes with libqt6gui6, Wayland's does not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
