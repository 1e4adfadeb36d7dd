# Windows programs: the icon and version data in each .exe (orbix_windows_program), and the
# folder they run from, with Qt's DLLs and plugins beside them (target windows-deploy), and the
# zip and installer made from it (target windows-package). Does nothing for other systems.
if(NOT WIN32)
  function(orbix_windows_program)
  endfunction()
  function(orbix_windows_deploy)
  endfunction()
  return()
endif()

enable_language(RC)
find_program(ORBIX_CONVERT convert REQUIRED)  # ImageMagick

# One icon file holding every size drawn under res/.
set(ORBIX_ICO ${PROJECT_BINARY_DIR}/res/orbix-loader.ico)
set(icon_pictures)
foreach(size 16 32 64 128)
  list(APPEND icon_pictures ${PROJECT_SOURCE_DIR}/res/orbix-loader-${size}.png)
endforeach()
add_custom_command(OUTPUT ${ORBIX_ICO}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/res
  COMMAND ${ORBIX_CONVERT} ${icon_pictures} ${ORBIX_ICO}
  DEPENDS ${icon_pictures}
  COMMENT "Windows icon from the icon pictures")
add_custom_target(orbix-windows-icon DEPENDS ${ORBIX_ICO})

file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE ORBIX_RC_COPYRIGHT REGEX "^Copyright")

# orbix_windows_program(TARGET DESCRIPTION [GUI]): the icon and version data into TARGET; GUI
# makes it a window program (no console window opens with it).
function(orbix_windows_program target description)
  set(ORBIX_RC_PROGRAM ${target})
  set(ORBIX_RC_DESCRIPTION ${description})
  set(ORBIX_RC_ICON ${ORBIX_ICO})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/orbix_program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ORBIX_ICO})
  add_dependencies(${target} orbix-windows-icon)
  if("GUI" IN_LIST ARGN)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  set_property(GLOBAL APPEND PROPERTY ORBIX_WINDOWS_PROGRAMS ${target})
endfunction()

# After every program is defined: build/windows/ holds what a Windows PC runs, and
# build/packages/ the zip and the installer made from it.
function(orbix_windows_deploy)
  if(NOT Qt6_DIR)
    return()
  endif()
  cmake_path(GET Qt6_DIR PARENT_PATH qt)  # PREFIX/lib/cmake/Qt6
  cmake_path(GET qt PARENT_PATH qt)
  cmake_path(GET qt PARENT_PATH qt)
  get_property(programs GLOBAL PROPERTY ORBIX_WINDOWS_PROGRAMS)
  set(files)
  foreach(program ${programs})
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  # Each step runs again only when what it reads has changed (makensis takes half a minute).
  set(deployed ${PROJECT_BINARY_DIR}/windows.stamp)
  add_custom_command(OUTPUT ${deployed}
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/deploy-windows ${PROJECT_BINARY_DIR}/windows ${qt} ${files}
    COMMAND ${CMAKE_COMMAND} -E touch ${deployed}
    DEPENDS ${programs} ${PROJECT_SOURCE_DIR}/scripts/deploy-windows
    COMMENT "Programs with Qt's DLLs and plugins in windows/"
    VERBATIM)
  add_custom_target(windows-deploy DEPENDS ${deployed})

  set(name ${PROJECT_BINARY_DIR}/packages/orbix-loader-${PROJECT_VERSION}-windows-x64)
  add_custom_command(OUTPUT ${name}.zip ${name}-setup.exe
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-windows ${PROJECT_BINARY_DIR} ${PROJECT_VERSION}
    DEPENDS ${deployed} ${ORBIX_ICO} ${PROJECT_SOURCE_DIR}/scripts/package-windows
            ${PROJECT_SOURCE_DIR}/packaging/windows/orbix-loader.nsi ${PROJECT_SOURCE_DIR}/README.md
            ${PROJECT_SOURCE_DIR}/LICENSE
    COMMENT "Windows zip and installer in packages/"
    VERBATIM)
  add_custom_target(windows-package DEPENDS ${name}.zip ${name}-setup.exe)
endfunction()
