# Where `cmake --install` (and so the Debian package) puts the tool: the window program,
# nmct-cli beside it and the module simulator in bin/, the menu entry and its icon where
# desktops look for them, the README with the documentation.
include(GNUInstallDirs)

# The package is named after the program, whatever the project calls itself.
set(NMCT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/nmct)
set(_nmct_packaging ${PROJECT_SOURCE_DIR}/packaging)

if(TARGET nmct)
    install(TARGETS nmct RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${_nmct_packaging}/nmct.desktop
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    # hicolor/<size>/apps/nmct.png, the fallback theme every icon theme inherits from.
    install(DIRECTORY ${_nmct_packaging}/icons/hicolor
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons
            FILES_MATCHING PATTERN "*.png")
endif()

if(TARGET nmct-cli)
    install(TARGETS nmct-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(TARGET modsim)
    install(TARGETS modsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${NMCT_DOC_DIR})
