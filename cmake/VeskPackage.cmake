# What `cmake --install` puts where, and the Debian package CPack builds
# from it (`cpack -G DEB` in the build directory, or scripts/package).

include(GNUInstallDirs)

# Installing (and so packaging, whose first step is an install) takes the
# programs as they are built rather than building every target of the tree
# first, tests and benchmarks included; scripts/package builds what it packs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# The programs themselves are installed by the root CMakeLists.txt; the
# documentation and the examples of scheduling and serving come here.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/contrib/vesk.service ${PROJECT_SOURCE_DIR}/contrib/vesk.timer
              ${PROJECT_SOURCE_DIR}/contrib/vesk@.service ${PROJECT_SOURCE_DIR}/contrib/vesk@.timer
              ${PROJECT_SOURCE_DIR}/contrib/vesk.cron ${PROJECT_SOURCE_DIR}/contrib/nginx-vesk.conf
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_BINARY_DIR}/docs/vesk.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(VESK_PACKAGE_MAINTAINER "VESK maintainers <vesk@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME vesk)
set(CPACK_PACKAGE_VENDOR "VESK")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VESK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "weather-radar loop publisher for a web site")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "VESK keeps a small web publication of a weather-radar loop up to date. Each start is one\n"
  "refresh run, meant to be started every five minutes by a systemd timer or cron: it\n"
  "writes two animated HTML loop pages (30 minutes and 24 hours), downloads the newest radar\n"
  "frames when a new one appeared, draws a station overlay with time, temperature and wind\n"
  "on a background map, and archives frames and overlays by five-minute slot. A failure\n"
  "leaves an XML report and a syslog line. Examples of the systemd units, a cron line and an\n"
  "nginx snippet are in /usr/share/doc/vesk/examples.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vesk)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VESK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The overlay text needs a font: the face is looked up with fontconfig, which
# substitutes whatever is installed; DejaVu is Debian's usual default.
set(vesk_font_dependency "fonts-dejavu-core | fonts-liberation2 | fonts-freefont-ttf")
# https hosts are verified against the system's store of certificate
# authorities, which ca-certificates provides.
set(vesk_data_dependencies "${vesk_font_dependency}, ca-certificates")
find_program(VESK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VESK_DPKG_SHLIBDEPS)
  # The libraries and their versions as the built programs need them; CPack
  # adds them to the dependencies given here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${vesk_data_dependencies}")
else()
  string(CONCAT CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), libfreetype6 (>= 2.2.1), "
    "libfontconfig1 (>= 2.12.6), zlib1g (>= 1:1.1.4), libssl3 (>= 3.0.0), libpng16-16 (>= 1.6.2), "
    "libwebp7 (>= 1.2.4), libwebpmux3 (>= 1.2.4), ${vesk_data_dependencies}")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx | httpd, cron | systemd-sysv")

include(CPack)
