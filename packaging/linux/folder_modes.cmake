# Run by cpack once the package's files are staged: the folders it made for them take
# Debian's mode 755 whatever the builder's umask (the files have theirs from install()),
# so a strict umask neither locks users out of /usr/lib/tovak-remote nor changes the bytes.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
        file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
            GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
