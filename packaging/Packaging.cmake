# Installation layout and the Debian package (scripts/build-deb.sh runs CPack on it).
include(GNUInstallDirs)

set(TAVRIX_PKG_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TAVRIX_RESOURCES ${PROJECT_SOURCE_DIR}/src/gui/resources)
# The simulated GPIB driver is a test instrument, not a system driver: it stays in a folder of
# its own where no program looking for a real libgpib finds it.
# On Debian it is the architecture's library folder whatever the prefix, as in the package.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(TAVRIX_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/tavrix)
else()
  set(TAVRIX_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/tavrix)
endif()

install(TARGETS tavrix-cli tavrix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tavrix)
  install(TARGETS tavrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS gpib-sim LIBRARY DESTINATION ${TAVRIX_PRIVATE_LIBDIR} NAMELINK_SKIP)

# Where the desktop program finds the simulated driver, relative to its own folder.
file(RELATIVE_PATH TAVRIX_BIN_TO_PRIVATE_LIBDIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${TAVRIX_PRIVATE_LIBDIR})
if(TARGET tavrix_gui)
  target_compile_definitions(tavrix_gui
                             PRIVATE TAVRIX_BIN_TO_GPIB_SIM="${TAVRIX_BIN_TO_PRIVATE_LIBDIR}")
endif()

set(TAVRIX_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavrix)
install(FILES ${TAVRIX_PKG_DIR}/copyright DESTINATION ${TAVRIX_DOCDIR})
# The help page the build made from docs/ (see src/gui/CMakeLists.txt).
if(TAVRIX_HELP_HTML)
  install(FILES ${TAVRIX_HELP_HTML} DESTINATION ${TAVRIX_DOCDIR})
endif()

# Monitoring and runs of days: the alert rules with a sample scrape configuration, and the
# logging service template with an example of its options.
install(FILES ${TAVRIX_PKG_DIR}/prometheus/tavrix-alerts.yml
              ${TAVRIX_PKG_DIR}/prometheus/prometheus-sample.yml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/tavrix/prometheus)
install(FILES ${TAVRIX_PKG_DIR}/systemd/tavrix-log@.service DESTINATION lib/systemd/system)
install(FILES ${TAVRIX_PKG_DIR}/systemd/example.conf DESTINATION ${TAVRIX_DOCDIR}/examples)

install(FILES ${TAVRIX_PKG_DIR}/tavrix.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${TAVRIX_PKG_DIR}/com.orvella.tavrix.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
set(TAVRIX_ICONDIR ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor)
install(FILES ${TAVRIX_RESOURCES}/tavrix.svg DESTINATION ${TAVRIX_ICONDIR}/scalable/apps)
foreach(size 48 128)
  install(FILES ${TAVRIX_PKG_DIR}/icons/tavrix-${size}.png
          DESTINATION ${TAVRIX_ICONDIR}/${size}x${size}/apps RENAME tavrix.png)
endforeach()

# Manual pages and the changelog go in compressed, as Debian wants them; -n keeps the archive
# free of time stamps so that two builds give the same bytes.
find_program(TAVRIX_GZIP gzip REQUIRED)
set(TAVRIX_GZIPPED)
foreach(page tavrix.1 tavrix-cli.1 tavrix-sim.1)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
                     COMMAND ${TAVRIX_GZIP} -9n -c ${TAVRIX_PKG_DIR}/man/${page} > ${out}
                     DEPENDS ${TAVRIX_PKG_DIR}/man/${page} VERBATIM)
  list(APPEND TAVRIX_GZIPPED ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(out ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${out} COMMAND ${TAVRIX_GZIP} -9n -c ${TAVRIX_PKG_DIR}/changelog > ${out}
                   DEPENDS ${TAVRIX_PKG_DIR}/changelog VERBATIM)
list(APPEND TAVRIX_GZIPPED ${out})
install(FILES ${out} DESTINATION ${TAVRIX_DOCDIR})
add_custom_target(tavrix_compressed_docs ALL DEPENDS ${TAVRIX_GZIPPED})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrix Utility Software")
set(CPACK_PACKAGE_CONTACT "Tavrix Utility Software <support@tavrix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "utility for cryogenic temperature controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrix talks to one cryogenic temperature controller or monitor at a time\n\
over RS232, GPIB or TCP: it writes and reads sensor curves and PID tables,\n\
generates corrected curves, logs channels and calibrates inputs.\n\
The package holds the desktop program, the command line tavrix-cli and the\n\
simulated controller tavrix-sim with its GPIB driver library.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tavrix.invalid/")
include(CPack)
