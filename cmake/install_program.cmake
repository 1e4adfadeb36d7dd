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

# The date of the changelog's last entry: the release date the AppStream metainfo gives.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog signed REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX MATCH "([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+)" _ "${signed}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_2}" month)
math(EXPR month "${month} + 101")
math(EXPR day "${CMAKE_MATCH_1} + 100")
string(SUBSTRING ${month} 1 2 month)
string(SUBSTRING ${day} 1 2 day)
set(ORBIX_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${day}")

# What puts a window program on the desktop, in its package: its desktop entry, the file types
# it opens, its AppStream metainfo (named by its component id) and the icon.
function(orbix_install_desktop program appstream_id)
  set(res ${PROJECT_SOURCE_DIR}/res)
  install(FILES ${res}/${program}.desktop COMPONENT ${program} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${res}/${program}-mime.xml COMPONENT ${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${program}.xml)
  configure_file(${res}/${program}.metainfo.xml ${PROJECT_BINARY_DIR}/${appstream_id}.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${appstream_id}.metainfo.xml COMPONENT ${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 64 128)
    install(FILES ${res}/orbix-loader-${size}.png COMPONENT ${program}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${program}.png)
  endforeach()
endfunction()
