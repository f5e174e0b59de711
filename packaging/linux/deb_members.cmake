# Run by cpack after the DEB generator, before publish.cmake copies the package out:
# deb_members.py gives the members of its outer archive the owner, mode and time
# dpkg-deb gives them, whatever the builder's umask.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND "${CPACK_TOVAK_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/deb_members.py"
            --time "$ENV{SOURCE_DATE_EPOCH}" "${package}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
