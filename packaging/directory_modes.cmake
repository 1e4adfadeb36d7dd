# Run by CPack between staging the files and archiving them: every directory in a package is
# 0755. The install gives the directories it makes the builder's umask, whatever
# CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS says, and a umask of 077 would leave /usr/bin
# unreadable to everyone but root once the package is installed.
file(GLOB_RECURSE directories LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(directory ${directories})
  if(IS_DIRECTORY ${directory})
    file(CHMOD ${directory} DIRECTORY_PERMISSIONS
         OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
