# The install rules (cmake --install) and the Debian package made from them
# (cpack -G DEB, or the "package" target): the library, tavik-serve and
# tavik-search with their manual pages, the demo site, the service unit and
# its settings, the log rotation, the nginx configuration as an example,
# and the documents. The programs find the library and the site relative to
# their own folder (see host/program_folder.h), so the install may go
# anywhere. Where mod_tavik is built, a second package holds it
# (cmake/apache_package.cmake): each package is a CPack component, and
# every rule here belongs to "tavik".
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME tavik)
include(${PROJECT_SOURCE_DIR}/cmake/manual_pages.cmake)

# Where systemd, logrotate and the service's settings live; absolute,
# whatever the prefix.
set(TAVIK_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH
    "where the install puts the service unit")
set(TAVIK_LOGROTATE_DIR /etc/logrotate.d CACHE PATH
    "where the install puts the log rotation")
set(TAVIK_DEFAULTS_DIR /etc/default CACHE PATH
    "where the install puts the service's settings")
set(TAVIK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tavik)

install(TARGETS tavik-serve tavik-search RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tavik LIBRARY DESTINATION ${TAVIK_INSTALL_LIBRARY_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/site/ DESTINATION ${TAVIK_INSTALL_SITE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/SECURITY.md
              ${PROJECT_SOURCE_DIR}/docs/operators.md
              ${PROJECT_SOURCE_DIR}/deploy/debian/copyright
        DESTINATION ${TAVIK_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/deploy/nginx
        DESTINATION ${TAVIK_DOC_DIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/logrotate/tavik-serve
        DESTINATION ${TAVIK_LOGROTATE_DIR})
# The service's settings, a configuration file the operator edits (the
# site is set there and only there).
install(FILES ${PROJECT_SOURCE_DIR}/deploy/default/tavik-serve
        DESTINATION ${TAVIK_DEFAULTS_DIR})
tavik_manual_page(tavik-serve "serve a site with the Tavik search extension")
tavik_manual_page(tavik-search "run one search with the Tavik search extension")

# The Debian changelog, compressed as Debian keeps it (no time stamp).
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/deploy/debian/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/deploy/debian/changelog VERBATIM)
add_custom_target(tavik_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${TAVIK_DOC_DIR})

# The unit names the program by its installed path: written at install
# time, when the prefix is known (the package's is /usr).
set(unit_source ${PROJECT_SOURCE_DIR}/deploy/systemd/tavik-serve@.service)
install(CODE "
  file(READ \"${unit_source}\" unit)
  string(REPLACE \"ExecStart=/usr/bin/\"
    \"ExecStart=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\" unit \"\${unit}\")
  set(target \"\$ENV{DESTDIR}${TAVIK_SYSTEMD_UNIT_DIR}/tavik-serve@.service\")
  message(STATUS \"Installing: \${target}\")
  file(WRITE \"\${target}\" \"\${unit}\")
")

# The Debian package: tavik_VERSION_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tavik developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-text search extension for web servers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tavik is a search extension with the two classic server-extension entry
points. It counts, in every HTML document below a folder, the lines that
hold the search string, and answers with a page that ranks the documents.

This package holds the extension (libtavik.so), tavik-serve, an HTTP/1.1
server that loads it and serves a site with it, tavik-search, which runs
one search from the command line, a demo site, a systemd service for
tavik-serve (one instance per port), its log rotation, and an nginx
configuration that puts nginx in front of one or several tavik-serve
backends.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Tavik maintainers <maintainers@users.noreply.c-seed-933c8643.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS nginx)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/deploy/debian/conffiles
    ${PROJECT_SOURCE_DIR}/deploy/debian/postinst
    ${PROJECT_SOURCE_DIR}/deploy/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Installed with the prefix /usr into a staging folder (DESTDIR), whatever
# prefix the build was configured with, so that the unit and the log
# rotation land where they are named.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# One package per component: tavik, and libapache2-mod-tavik.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_TAVIK_PACKAGE_NAME tavik)
include(${CMAKE_CURRENT_LIST_DIR}/apache_package.cmake)
include(CPack)
