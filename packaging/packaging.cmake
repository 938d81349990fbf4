# The Debian package: what goes where when installed, and CPack's DEB
# generator settings. `make package` (packaging/build-package.sh) drives it
# through the "package" preset; the other presets only read the install
# rules and never build the package files.

include(GNUInstallDirs)

set(TESSALY_APP_ID "com.corvane.Tessaly")
set(TESSALY_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TESSALY_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

# The version comes with tessaly_core (see the top level); the desktop entry's
# name is the window's application ID.
target_compile_definitions(tessaly PRIVATE TESSALY_APP_ID="${TESSALY_APP_ID}")

# --- Files made at build time: compressed man pages and changelog, the PNG
# icon rendered from its SVG. Left out of "all": only the package needs the
# tools (gzip, rsvg-convert) and the outputs.
set(TESSALY_MAN_PAGES tessaly.1 tessaly-printer-sim.1 tessaly-cli.1)
set(packaging_outputs)
foreach(page IN LISTS TESSALY_MAN_PAGES)
  add_custom_command(
    OUTPUT ${TESSALY_PACKAGING_OUT}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSALY_PACKAGING_OUT}
    COMMAND gzip -9n -c ${TESSALY_PACKAGING_DIR}/man/${page} > ${TESSALY_PACKAGING_OUT}/${page}.gz
    DEPENDS ${TESSALY_PACKAGING_DIR}/man/${page}
    VERBATIM)
  list(APPEND packaging_outputs ${TESSALY_PACKAGING_OUT}/${page}.gz)
endforeach()

add_custom_command(
  OUTPUT ${TESSALY_PACKAGING_OUT}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSALY_PACKAGING_OUT}
  COMMAND gzip -9n -c ${TESSALY_PACKAGING_DIR}/changelog > ${TESSALY_PACKAGING_OUT}/changelog.Debian.gz
  DEPENDS ${TESSALY_PACKAGING_DIR}/changelog
  VERBATIM)
list(APPEND packaging_outputs ${TESSALY_PACKAGING_OUT}/changelog.Debian.gz)

add_custom_command(
  OUTPUT ${TESSALY_PACKAGING_OUT}/${TESSALY_APP_ID}.png
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSALY_PACKAGING_OUT}
  COMMAND rsvg-convert --width 256 --height 256 --output ${TESSALY_PACKAGING_OUT}/${TESSALY_APP_ID}.png
          ${TESSALY_PACKAGING_DIR}/icon/${TESSALY_APP_ID}.svg
  DEPENDS ${TESSALY_PACKAGING_DIR}/icon/${TESSALY_APP_ID}.svg
  VERBATIM)
list(APPEND packaging_outputs ${TESSALY_PACKAGING_OUT}/${TESSALY_APP_ID}.png)

add_custom_target(tessaly_package_files DEPENDS ${packaging_outputs})

# --- Install rules. Absolute destinations where the place is fixed by the
# system (udev), so a different prefix cannot move the rule out of udev's
# sight.
install(TARGETS tessaly tessaly-printer-sim tessaly-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TESSALY_PACKAGING_DIR}/${TESSALY_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TESSALY_PACKAGING_DIR}/${TESSALY_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TESSALY_PACKAGING_DIR}/icon/${TESSALY_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TESSALY_PACKAGING_OUT}/${TESSALY_APP_ID}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps OPTIONAL)
install(FILES ${CMAKE_SOURCE_DIR}/resources/60-tessaly-usb.rules
        DESTINATION /usr/lib/udev/rules.d)
foreach(page IN LISTS TESSALY_MAN_PAGES)
  install(FILES ${TESSALY_PACKAGING_OUT}/${page}.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
endforeach()
# Where bash-completion looks for a command's completion when it is first
# completed.
install(FILES ${TESSALY_PACKAGING_DIR}/completions/tessaly-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${TESSALY_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${TESSALY_PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tessaly)

# --- CPack: one .deb named tessaly_<version>-<revision>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "Corvane Ltd")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessaly maintainers <tessaly@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "maintenance utility for ID-card printers")
# The extended description; CPack puts the summary above it and formats the
# lines for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tessaly is a desktop program for technicians who look after ID-card
printers attached by USB, a parallel port or Ethernet. In one window it
reads the printer's identity and engine settings, resets it, reads its
counters, sends typed commands and print files, upgrades printer and
laminator firmware, lists query and sensor reports, edits the printer's
network settings, and encodes and reads back magnetic-stripe tracks.

The package also holds tessaly-cli, which does the same maintenance
from a shell for one printer or a fleet (with JSON output and a protocol
trace), tessaly-printer-sim, a simulated card printer on a local TCP
port, and a udev rule that lets the user at the seat open the
maker's USB printers without root.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${TESSALY_PACKAGING_DIR}/debian/postinst
  ${TESSALY_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
