# The Debian package: `cpack -G DEB` in the build folder, after building nmct, nmct-cli and
# modsim.
# scripts/package-check.sh builds it, unpacks it and starts the program it holds.
include(${CMAKE_CURRENT_LIST_DIR}/Install.cmake)

# Without the window there is nothing to package.
if(NOT TARGET nmct)
    return()
endif()

set(CPACK_PACKAGE_NAME nmct)
set(CPACK_PACKAGE_VENDOR "Example Radio Devices")
set(CPACK_PACKAGE_CONTACT "Example Radio Devices <support@example.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Network Module Communication Tools: configure a radio transceiver module")
set(CPACK_PACKAGE_DESCRIPTION [=[A desktop tool for a two-way radio transceiver module attached to the PC
by a serial port. It identifies the module, reads and writes its 16 channels
(transmit and receive frequency), its sub-audio settings (CTCSS tone or CDCSS
code) and its squelch level, restores its factory settings and sets its
volume.

nmct-cli does the same from scripts: it keeps a module's settings in a
plain-text parameter file, writes that file into a batch of modules and
verifies each.

The package also holds modsim, a simulator that plays the module on a
pseudo-terminal, to try the tool without a module.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # nmct_<version>-<release>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The Qt and C++ libraries come from the binaries themselves; dpkg-shlibdeps (dpkg-dev) reads
# them when the package is made. The fonts are looked up by name at run time, so they are listed
# here: the window's faces map to Tahoma from fonts-wine, to Liberation Sans and Serif, to
# WenQuanYi Micro Hei for the CJK faces, and DejaVu closes every list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
find_program(NMCT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT NMCT_DPKG_SHLIBDEPS)
    message(WARNING "dpkg-shlibdeps not found (package dpkg-dev): a Debian package built here "
                    "would not depend on the Qt libraries")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-dejavu-core, fonts-liberation, fonts-wine, fonts-wqy-microhei")

include(CPack)
