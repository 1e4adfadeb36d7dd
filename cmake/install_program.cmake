# Installs one program as its own package component, named like the program: the executable,
# its manual page, its bash completion (when it has one), and the copyright file and changelog
# (which packaging.cmake makes).
#
# The manual page is written in scdoc next to the program's code (<program>.1.scd, where the
# --help text also lives), stamped with the version, and gzipped as Debian keeps manual pages.
find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)

function(orbix_install_program program)
  set_property(GLOBAL APPEND PROPERTY ORBIX_PACKAGES ${program})
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${program})

  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${program}.1.scd)
  set(stamped ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.scd)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.gz)
  configure_file(${source} ${stamped} @ONLY)
  add_custom_command(OUTPUT ${page}
    COMMAND sh -c "'${SCDOC}' < '${stamped}' | '${GZIP}' -9n > '${page}'"
    DEPENDS ${stamped}
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  add_custom_target(${program}-manual ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${program})

  set(completion ${CMAKE_CURRENT_SOURCE_DIR}/${program}.bash-completion)
  if(EXISTS ${completion})
    install(FILES ${completion} RENAME ${program} COMPONENT ${program}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endif()

  install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz COMPONENT ${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${program})
endfunction()
