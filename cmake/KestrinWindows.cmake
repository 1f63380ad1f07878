# The program for Windows: icon and version information in each .exe, a window program with
# no console of its own, Qt's offscreen platform for the window's tests, and the zip and the
# NSIS installer that scripts/package-windows.sh makes with CPack.
set(KESTRIN_PUBLISHER "Kestrin VNA developers")

# kestrin_windows_resources(<target> <description>): the icon, the version information and
# the application manifest (packaging/windows/app.manifest.in).
function(kestrin_windows_resources target description)
  set(KESTRIN_RC_NAME ${target})
  set(KESTRIN_RC_DESCRIPTION "${description}")
  set(KESTRIN_RC_ICON "${PROJECT_SOURCE_DIR}/packaging/icons/${KESTRIN_APP_ID}.ico")
  set(KESTRIN_RC_MANIFEST "${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/app.manifest.in ${KESTRIN_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()

# A program has one manifest, its own: where mingw-w64's compiler would link its default
# one (default-manifest.o, when installed), an empty object of that name is found first.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=default-manifest.o
  OUTPUT_VARIABLE kestrin_default_manifest OUTPUT_STRIP_TRAILING_WHITESPACE)
if(IS_ABSOLUTE "${kestrin_default_manifest}" AND EXISTS "${kestrin_default_manifest}")
  set(kestrin_no_manifest ${PROJECT_BINARY_DIR}/no-default-manifest)
  file(WRITE ${kestrin_no_manifest}/empty.c "")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -c ${kestrin_no_manifest}/empty.c
    -o ${kestrin_no_manifest}/default-manifest.o RESULT_VARIABLE kestrin_no_manifest_result)
  if(NOT kestrin_no_manifest_result EQUAL 0)
    message(FATAL_ERROR "Cannot make the empty default-manifest.o in ${kestrin_no_manifest}")
  endif()
  add_link_options(-B${kestrin_no_manifest}/)
endif()

# Beside the programs: the licence (with Windows' line ends) and a short read-me.
set(KESTRIN_QT_VERSION ${Qt6_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt
  ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
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
# The NSIS lines below are written as NSIS reads them (backslashes, quotes, $INSTDIR).
set(CPACK_VERBATIM_VARIABLES TRUE)
set(kestrin_uninstall_key [=[Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrin VNA]=])
# A setup file (.kvsetup) opens in the program when double-clicked or dropped on it; the
# uninstall entry's NoModify and NoRepair are numbers (REG_DWORD), as Windows reads them.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  WriteRegDWORD SHCTX "@KEY@" "NoModify" 1
  WriteRegDWORD SHCTX "@KEY@" "NoRepair" 1
  WriteRegStr SHCTX "Software\Classes\.kvsetup" "" "KestrinVNA.Setup"
  WriteRegStr SHCTX "Software\Classes\.kvsetup" "Content Type" "application/x-kestrin-vna-setup"
  WriteRegStr SHCTX "Software\Classes\KestrinVNA.Setup" "" "Kestrin VNA setup"
  WriteRegStr SHCTX "Software\Classes\KestrinVNA.Setup\DefaultIcon" "" "$INSTDIR\kestrin-vna.exe,0"
  WriteRegStr SHCTX "Software\Classes\KestrinVNA.Setup\shell\open\command" "" '"$INSTDIR\kestrin-vna.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]=])
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  DeleteRegKey SHCTX "Software\Classes\KestrinVNA.Setup"
  ReadRegStr $0 SHCTX "Software\Classes\.kvsetup" ""
  StrCmp $0 "KestrinVNA.Setup" 0 +2
    DeleteRegKey SHCTX "Software\Classes\.kvsetup"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]=])
string(REPLACE "@KEY@" "${kestrin_uninstall_key}" CPACK_NSIS_EXTRA_INSTALL_COMMANDS "${CPACK_NSIS_EXTRA_INSTALL_COMMANDS}")
include(CPack)
