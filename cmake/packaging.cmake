# Debian packages, one a program: `cmake --build build --target package` (`make package`)
# writes them to build/packages/. Each program's files are its own install component (see
# install_program.cmake); dpkg-shlibdeps computes what each one depends on.

# The copyright file every package carries: LICENSE under a machine-readable header.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(holder "${CMAKE_MATCH_1}")
# The licence itself follows the copyright line; in the file each line is indented by one
# space and an empty one is written " .".
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n+" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license "${license}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ORBIX Loader
Source: ${PROJECT_HOMEPAGE_URL}

Files: *
Copyright: ${holder}
License: MIT
 ${license}
")

# The changelog, in Debian's format and gzipped as Debian keeps it.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND sh -c "'${GZIP}' -9n < '${PROJECT_SOURCE_DIR}/packaging/changelog' > '${PROJECT_BINARY_DIR}/changelog.gz'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)

get_property(ORBIX_PACKAGES GLOBAL PROPERTY ORBIX_PACKAGES)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbix-loader)
set(CPACK_PACKAGE_VENDOR "Calvane")
set(CPACK_PACKAGE_CONTACT "ORBIX Loader developers <orbix-loader@calvane.example>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL ${ORBIX_PACKAGES})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/directory_modes.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})

# Qt loads its PostgreSQL driver as a plugin, which no library dependency brings: a site sending
# the records to its database needs it, one without does not.
set(CPACK_DEBIAN_ORBIX-FLASH_PACKAGE_RECOMMENDS libqt6sql6-psql)
set(CPACK_DEBIAN_ORBIX-BENCH_PACKAGE_RECOMMENDS libqt6sql6-psql)
set(CPACK_DEBIAN_ORBIX-FLASH_DESCRIPTION
"command-line loader for ORBIX touchscreen keypads
orbix-flash installs new firmware (Motorola S-record files) and new screens
(binary files) into an ORBIX touchscreen keypad over a serial line, tests
the connection, lists the serial ports and shows what a file holds. It suits
terminals, scripts and production lines, and can run against a simulated
keypad (--simulate).")
set(CPACK_DEBIAN_ORBIX-LOADER_DESCRIPTION
"desktop loader for ORBIX touchscreen keypads
ORBIX Loader installs new firmware (Motorola S-record files) and new screens
(binary files) into an ORBIX touchscreen keypad over a serial line, and tests
the connection, from a small window with a progress bar. The serial port is
chosen in its Preferences.")
# The bench's package is its own: a line's PC needs the bench and not the loader's window.
if(TARGET orbix-bench)
  orbix_install_desktop(orbix-bench example.calvane.OrbixBench)
endif()
set(CPACK_DEBIAN_ORBIX-BENCH_DESCRIPTION
"production bench for ORBIX touchscreen keypads
ORBIX Bench updates many ORBIX keypads at once from one window, a slot per
serial port, each slot on its own: a keypad put in is updated and its
removal readies the slot for the next. A bench profile pins the image by its
SHA-256, names the slots and the records log, and can be locked so that the
operator has only Start and Stop. It can run on simulated keypads
(--simulate).")
set(CPACK_DEBIAN_ORBIX-KEYPAD-SIM_DESCRIPTION
"simulated ORBIX touchscreen keypad on a pseudo-terminal
orbix-keypad-sim answers the ORBIX keypad's update protocol on a
pseudo-terminal, so the loaders can be tried, demonstrated and tested
without hardware. Its flash model, timings and faults are set by options,
and it can write what it received to files.")
set(CPACK_DEBIAN_ORBIX-KEYPAD-SIM_PACKAGE_SECTION devel)
foreach(package ${ORBIX_PACKAGES})
  string(TOUPPER ${package} component)
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
endforeach()

include(CPack)
