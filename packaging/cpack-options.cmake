# Read by cpack for each generator. The Debian package installs the whole folder under
# /opt/mirabex: the program reads its settings next to its executable, which rules out /usr/bin.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /opt/mirabex)
endif()
