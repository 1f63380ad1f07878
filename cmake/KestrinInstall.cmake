# kestrin_install_program(<target> [MANPAGE <file.N>])
# Installs a program into bin/ and its man page, compressed with gzip -9n, into
# share/man/manN (@PROJECT_VERSION@ in the page becomes the version). The program also
# learns the version as KESTRIN_VERSION, for its --version.
include(GNUInstallDirs)

function(kestrin_install_program target)
  cmake_parse_arguments(P "" "MANPAGE" "" ${ARGN})
  target_compile_definitions(${target} PRIVATE KESTRIN_VERSION="${PROJECT_VERSION}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(P_MANPAGE AND UNIX)
    get_filename_component(source ${P_MANPAGE} ABSOLUTE)
    get_filename_component(name ${P_MANPAGE} NAME)
    string(REGEX MATCH "[1-9]$" section "${name}")
    if(NOT section)
      message(FATAL_ERROR "kestrin_install_program: ${name} has no man section as its suffix")
    endif()
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/man/${name})
    configure_file(${source} ${copy} @ONLY)
    add_custom_command(OUTPUT ${copy}.gz
      # -k keeps the configured page; -n: no name or time stamp inside, so the same page
      # gives the same bytes.
      COMMAND gzip -9nkf ${copy}
      DEPENDS ${copy}
      VERBATIM)
    add_custom_target(${target}_manpage ALL DEPENDS ${copy}.gz)
    install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endfunction()
