# The Debian package kestrin-vna, built by CPack from the install rules
# (scripts/package.sh: a Release build, then cpack).
set(KESTRIN_PACKAGE_MAINTAINER "Kestrin VNA maintainers <maintainers@users.noreply.c-seed-fca573f8.example>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrin-vna)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KESTRIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control and display program for DDS antenna analysers")
# Debian's description: paragraphs of at most 80 columns; CPack indents them.
set(CPACK_PACKAGE_DESCRIPTION [=[
Kestrin VNA drives a one-port vector network analyser built round a DDS
signal source, the kind of antenna analyser that radio amateurs connect by
USB. It sweeps the chosen range over and over and draws SWR, return loss,
phase, impedance magnitude, series resistance and series reactance against
frequency.

It works with the 180 MHz analyser (400 MHz DDS clock), the 500 MHz analyser
(1.25 GHz DDS clock) and other DDS analysers that speak the same serial
protocol, with their DDS clock set by hand.

Two markers read off the values at any frequency, the lowest SWR is found,
a calculator per marker gives the inductance or capacitance that resonates
there, and the sweep narrows to the span between the markers. Band presets
cover the HF bands; the plot can be saved as a BMP picture and the sweep as
a CSV table or a Touchstone file. The command kestrin-vna-sweep sweeps
without a window, for scripts and logs. A built-in simulated analyser, also
available as the command kestrin-vna-sim, lets the program be tried without
hardware.]=])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/kestrinvna/kestrin-vna)
# Libraries come from dpkg-shlibdeps; the fonts the window is laid out for do not:
# Liberation Sans stands in for the plot's Arial, Wine's Tahoma is the window font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, fonts-wine")
set(CPACK_STRIP_FILES ON)
# Files and folders get Debian's permissions whatever the builder's umask.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
