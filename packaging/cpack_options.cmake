# Read by cpack before each generator runs; CPACK_GENERATOR is the one about to run.

# The installer's own file name (the zip keeps CPACK_PACKAGE_FILE_NAME).
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_TOVAK_SETUP_NAME}")
endif()

# The first generator of a run clears the previous run's downloads, and those made from
# them (the Debian package holds the Windows program), so a failed run never leaves an
# old package beside a new one, nor SHA256SUMS over both.
list(GET CPACK_TOVAK_GENERATORS 0 first_generator)
if(CPACK_GENERATOR STREQUAL first_generator)
    foreach(name IN LISTS CPACK_TOVAK_DOWNLOADS CPACK_TOVAK_OUTDATED ITEMS SHA256SUMS)
        file(REMOVE "${CPACK_TOVAK_DIST_DIR}/${name}")
    endforeach()
endif()

# Fixed times in the packages: the same commit gives the same packages. The archivers
# read SOURCE_DATE_EPOCH; unless the builder set it, it is the time of the commit built,
# or in a tree unpacked from the source archive the time the archive holds.
include("${CMAKE_CURRENT_LIST_DIR}/source_tree.cmake")
tovak_source_date_epoch("${CPACK_TOVAK_GIT}" "${CPACK_TOVAK_SOURCE_DIR}")
