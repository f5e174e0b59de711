# Read by cpack before each generator runs; CPACK_GENERATOR is the one about to run.

# The installer's own file name (the zip keeps CPACK_PACKAGE_FILE_NAME).
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_TOVAK_SETUP_NAME}")
endif()

# The first generator of a run clears the previous run's downloads, so a failed run
# never leaves an old package beside a new one, nor SHA256SUMS over both.
list(GET CPACK_TOVAK_GENERATORS 0 first_generator)
if(CPACK_GENERATOR STREQUAL first_generator)
    foreach(name IN LISTS CPACK_TOVAK_DOWNLOADS ITEMS SHA256SUMS)
        file(REMOVE "${CPACK_TOVAK_DIST_DIR}/${name}")
    endforeach()
endif()

# Fixed times in the packages: the same commit gives the same zip. The archivers read
# SOURCE_DATE_EPOCH; unless the builder set it, it is the time of the commit built.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_TOVAK_GIT)
    execute_process(COMMAND "${CPACK_TOVAK_GIT}" log -1 --format=%ct
        WORKING_DIRECTORY "${CPACK_TOVAK_SOURCE_DIR}"
        OUTPUT_VARIABLE commit_time RESULT_VARIABLE git_result
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(git_result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
    endif()
endif()
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    message(WARNING "Not a git checkout and SOURCE_DATE_EPOCH not set: the packages "
        "carry the time of this build, so no two builds are alike.")
endif()
