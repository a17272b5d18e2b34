# libapache2-mod-tavik, the second package of the build (its own CPack
# component, "apache"), where mod_tavik is built: the module in Apache's
# modules folder, its .load and .conf (a commented example mount) in
# mods-available, for "a2enmod tavik", and its documents. It depends on the
# tavik package of the same version, for the library, and on the Apache ABI
# the module was built against. Included by packaging.cmake before CPack.
if(NOT TARGET mod_tavik)
  return()
endif()

# Where Apache looks for its modules' configuration; absolute, whatever
# the prefix.
set(TAVIK_APACHE_CONF_DIR /etc/apache2/mods-available CACHE PATH
    "where the install puts tavik.load and tavik.conf")
set(TAVIK_APACHE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/libapache2-mod-tavik)

install(TARGETS mod_tavik LIBRARY DESTINATION ${TAVIK_APACHE_MODULE_DIR}
        COMPONENT apache)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/apache/tavik.conf
        DESTINATION ${TAVIK_APACHE_CONF_DIR} COMPONENT apache)
install(FILES ${PROJECT_SOURCE_DIR}/docs/apache.md
              ${PROJECT_SOURCE_DIR}/deploy/debian/copyright
              ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${TAVIK_APACHE_DOC_DIR} COMPONENT apache)
# The .load names the module by its installed path: written at install
# time, when the prefix is known (the package's is /usr).
install(CODE "
  set(target \"\$ENV{DESTDIR}${TAVIK_APACHE_CONF_DIR}/tavik.load\")
  message(STATUS \"Installing: \${target}\")
  file(WRITE \"\${target}\" \"LoadModule tavik_module \${CMAKE_INSTALL_PREFIX}/${TAVIK_APACHE_MODULE_DIR}/mod_tavik.so\\n\")
" COMPONENT apache)

# The Apache ABI: Debian's Apache provides apache2-api-MAJOR, the module
# magic number's major part in the headers the module was built with.
file(STRINGS ${TAVIK_APACHE_INCLUDE_DIR}/ap_mmn.h magic
     REGEX "^#define MODULE_MAGIC_NUMBER_MAJOR [0-9]+")
string(REGEX REPLACE ".* ([0-9]+)$" "\\1" magic "${magic}")

set(CPACK_DEBIAN_APACHE_PACKAGE_NAME libapache2-mod-tavik)
set(CPACK_DEBIAN_APACHE_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_APACHE_PACKAGE_DEPENDS
    "tavik (= ${PROJECT_VERSION}), apache2-api-${magic}")
set(CPACK_DEBIAN_APACHE_PACKAGE_SUGGESTS "")
set(CPACK_DEBIAN_APACHE_DESCRIPTION
"This package holds mod_tavik, a module of Apache httpd that loads the
Tavik extension (from the tavik package) into Apache's processes and runs
it for the requests of a mount: a <Location> whose handler is tavik. The
folder a mount searches is confined to its TavikRoot (default the
DocumentRoot), links out of it refused. Enable it with a2enmod tavik.")
set(CPACK_DEBIAN_APACHE_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/deploy/debian/apache/conffiles
    ${PROJECT_SOURCE_DIR}/deploy/debian/apache/prerm
    ${PROJECT_SOURCE_DIR}/deploy/debian/apache/postrm)
