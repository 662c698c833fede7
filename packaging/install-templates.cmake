# Run at install time: copies the config.ini and values.ini templates next to the executable,
# each only when that folder does not hold the file yet, so that a later install never
# overwrites settings already edited. MIRABEX_TEMPLATE_DIR and MIRABEX_INSTALL_BINDIR are set
# by the install(CODE) call that includes this script.
set(_mirabex_bindir "${MIRABEX_INSTALL_BINDIR}")
if(NOT IS_ABSOLUTE "${_mirabex_bindir}")
    set(_mirabex_bindir "${CMAKE_INSTALL_PREFIX}/${_mirabex_bindir}")
endif()
foreach(_mirabex_file IN ITEMS config.ini values.ini)
    if(EXISTS "$ENV{DESTDIR}${_mirabex_bindir}/${_mirabex_file}")
        message(STATUS "Kept: $ENV{DESTDIR}${_mirabex_bindir}/${_mirabex_file}")
    else()
        file(INSTALL DESTINATION "${_mirabex_bindir}" TYPE FILE
            FILES "${MIRABEX_TEMPLATE_DIR}/${_mirabex_file}")
    endif()
endforeach()

# The desktop entry starts the installed executable: its Exec= line names the install prefix.
# Inside a CPack archive the final place is unknown, and the file keeps /opt/mirabex.
set(_mirabex_desktop "${MIRABEX_TEMPLATE_DIR}/mirabex.desktop")
file(READ "${_mirabex_desktop}" _mirabex_entry)
if(NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    string(REPLACE "Exec=/opt/mirabex/bin/Mirabex" "Exec=${_mirabex_bindir}/Mirabex"
        _mirabex_entry "${_mirabex_entry}")
endif()
set(_mirabex_staged "${MIRABEX_STAGING_DIR}/mirabex.desktop")
file(WRITE "${_mirabex_staged}" "${_mirabex_entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${MIRABEX_INSTALL_DATADIR}/applications"
    TYPE FILE FILES "${_mirabex_staged}")
