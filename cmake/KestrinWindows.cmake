# The program for Windows: icon and version information in each .exe, a window program with
# no console of its own, Qt's offscreen platform for the window's tests, and the zip and the
# NSIS installer that scripts/package-windows.sh makes with CPack.
set(KESTRIN_PUBLISHER "Kestrin VNA developers")

# kestrin_windows_resources(<target> <description>)
function(kestrin_windows_resources target description)
  set(KESTRIN_RC_NAME ${target})
  set(KESTRIN_RC_DESCRIPTION "${description}")
  set(KESTRIN_RC_ICON "${PROJECT_SOURCE_DIR}/packaging/icons/${KESTRIN_APP_ID}.ico")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()

# Beside the programs: the licence and a short read-me.
set(KESTRIN_QT_VERSION ${Qt6_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt
  ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt COPYONLY)
install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)

# CPack packs what the install rules name; the tests need not be built for it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_PACKAGE_NAME kestrin-vna)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${KESTRIN_PUBLISHER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control and display program for DDS antenna analysers")
set(CPACK_PACKAGE_FILE_NAME kestrin-vna-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Kestrin VNA")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Kestrin VNA")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
# The Start menu entry "Kestrin VNA" starts the window's program.
set(CPACK_PACKAGE_EXECUTABLES kestrin-vna "Kestrin VNA")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME "Kestrin VNA")
set(CPACK_NSIS_DISPLAY_NAME "Kestrin VNA")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/${KESTRIN_APP_ID}.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/icons/${KESTRIN_APP_ID}.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME kestrin-vna.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_URL_INFO_ABOUT https://github.com/kestrinvna/kestrin-vna)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# A 64-bit installer for a 64-bit program: it writes the registry and Program Files as
# 64-bit Windows shows them, and runs where only 64-bit programs run.
set(CPACK_NSIS_DEFINES "  Unicode true\n  Target amd64-unicode")
include(CPack)
