# The Debian package of cmplxview, kest-provider and kest-snapshot: `cpack -G DEB` in a build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cmplxview)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kestrel Systems")
set(CPACK_PACKAGE_CONTACT "cmplxview developers <cmplxview@kestrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report the configuration and health of a partitionable server complex")
set(CPACK_PACKAGE_DESCRIPTION
    "cmplxview is a read-only console command that reports the cabinets with their power and\n\
cooling, the cells, the I/O chassis and the hardware partitions of a partitionable server\n\
complex by asking a CIM provider over CIM-XML. kest-provider is a CIM-XML server that publishes\n\
a complex described in a JSON file; it runs as the systemd service kest-provider.\n\
kest-snapshot captures a live complex into files that kest-provider serves, so that any\n\
report can be replayed away from the complex.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# Maintainer scripts: tell systemd about the unit and stop the service on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
