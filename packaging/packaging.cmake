# Installation and the Debian packages, included at the end of the top CMakeLists so that
# CPack sees the whole project. scripts/package.sh builds the packages:
#   velmarrow      the program, velmarrow-cli, the desktop entry, icons, AppStream
#                  metainfo, manual pages and bash completion
#   velmarrow-sim  the simulated reader lumivex-sim and its manual page
# The package version is the project version, the one `velmarrow --version` and the
# About box show.

include(GNUInstallDirs)

set(VELMARROW_APP_ID com.orvandel.Velmarrow)
# The maker's web addresses, for the package and the software centres; set them when
# packaging for another site.
set(VELMARROW_HOMEPAGE_URL "https://www.orvandel.com/velmarrow"
    CACHE STRING "Velmarrow's home page, in the packages and the AppStream metainfo")
set(VELMARROW_SCREENSHOT_URL "${VELMARROW_HOMEPAGE_URL}/mainwindow.png"
    CACHE STRING "Where the picture of docs/mainwindow.png is published, for the AppStream metainfo")
set(VELMARROW_PACKAGE_MAINTAINER "Velmarrow maintainers <maintainers@users.noreply.c-seed-32133b41.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(packaging_dir ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# Programs
install(TARGETS velmarrow velmarrow-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velmarrow)
install(TARGETS lumivex-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)

# Desktop menus: the entry, the icon in the hicolor sizes (rendered from the SVG by
# packaging/icons/render.sh), and the metainfo that software centres read.
install(FILES ${packaging_dir}/velmarrow.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT velmarrow)
foreach(size 16 32 48 64 128 256)
  install(FILES ${packaging_dir}/icons/velmarrow-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME velmarrow.png COMPONENT velmarrow)
endforeach()
install(FILES ${packaging_dir}/icons/velmarrow.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT velmarrow)
configure_file(${packaging_dir}/${VELMARROW_APP_ID}.metainfo.xml.in
               ${packaging_out}/${VELMARROW_APP_ID}.metainfo.xml @ONLY)
install(FILES ${packaging_out}/${VELMARROW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT velmarrow)

install(FILES ${packaging_dir}/completion/velmarrow-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT velmarrow)

# Manual pages, with the version filled in and compressed as Debian keeps them (-n: no
# name or time stamp, so that the same page gives the same bytes).
foreach(page velmarrow velmarrow-cli lumivex-sim)
  configure_file(${packaging_dir}/man/${page}.1.in ${packaging_out}/man/${page}.1 @ONLY)
  execute_process(COMMAND gzip -9nc ${packaging_out}/man/${page}.1
                  OUTPUT_FILE ${packaging_out}/man/${page}.1.gz RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress the manual page ${page}.1")
  endif()
endforeach()
install(FILES ${packaging_out}/man/velmarrow.1.gz ${packaging_out}/man/velmarrow-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT velmarrow)
install(FILES ${packaging_out}/man/lumivex-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)

# Each package's copyright notice and changelog, where Debian looks for them.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(package velmarrow velmarrow-sim)
  if(package STREQUAL "velmarrow")
    set(component velmarrow)
  else()
    set(component sim)
  endif()
  configure_file(${packaging_dir}/changelog.in ${packaging_out}/doc/${package}/changelog @ONLY)
  execute_process(COMMAND gzip -9nc ${packaging_out}/doc/${package}/changelog
                  OUTPUT_FILE ${packaging_out}/doc/${package}/changelog.gz RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress the changelog of ${package}")
  endif()
  install(FILES ${packaging_dir}/copyright ${packaging_out}/doc/${package}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# The Debian packages
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmarrow)
set(CPACK_PACKAGE_VENDOR Orvandel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL velmarrow sim)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELMARROW_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VELMARROW_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; what Qt loads at run time is
# named below: the window-system plugins (xcb) and the TIFF image-format plugin, with
# which the program saves images and the simulated reader reads transferred ones.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Each package's description: its first line is the synopsis. (A project-wide
# CPACK_PACKAGE_DESCRIPTION_SUMMARY would be put before both as a second synopsis.)

set(CPACK_DEBIAN_VELMARROW_PACKAGE_NAME velmarrow)
set(CPACK_DEBIAN_VELMARROW_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins")
set(CPACK_DEBIAN_VELMARROW_PACKAGE_SUGGESTS velmarrow-sim)
set(CPACK_COMPONENT_VELMARROW_DESCRIPTION
    "set up and watch Lumivex smart ID readers
Velmarrow sets up and watches Lumivex smart ID readers: fixed-mount cameras
that read Data Matrix, QR and barcodes and grade their print quality. An
operator finds readers on the network or on a serial port, takes programming
control of one, watches its live images and decoded results, and changes how
it triggers, lights, decodes, grades, reports and switches its IO lines.

velmarrow-cli saves, compares and loads the configurations of many readers
from scripts.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME velmarrow-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "qt6-image-formats-plugins")
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_SIM_DESCRIPTION
    "simulated Lumivex smart ID readers for Velmarrow
lumivex-sim runs simulated Lumivex readers on loopback sockets: command,
data, discovery, formatted output and serial lines on pseudo-terminals, a
simulated scene read and graded as a reader of the chosen software version
does, and an admin interface that triggers, drives IO lines and injects
faults. It lets Velmarrow and velmarrow-cli be tried without a reader.")

include(CPack)

# The command line as the packages' checks and a person over ssh use it: --help and
# --version need no display, and the manual pages and bash completion name every option.
add_test(NAME velmarrow_commandline_without_display
         COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:velmarrow> -DVERSION=${PROJECT_VERSION}
                 -P ${packaging_dir}/checkcommandline.cmake)
foreach(program velmarrow velmarrow-cli lumivex-sim)
  add_test(NAME ${program}_manual_page
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}>
                   -DPAGE=${packaging_dir}/man/${program}.1.in
                   -DCOMPLETION=$<$<STREQUAL:${program},velmarrow-cli>:${packaging_dir}/completion/velmarrow-cli>
                   -P ${packaging_dir}/checkmanualpage.cmake)
endforeach()
