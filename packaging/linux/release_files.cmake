# Run at every build of the deb preset (cmake -P, settings as -D, see deb.cmake): the
# manual and the changelog with the packages' date, gzipped as Debian wants them, the
# software centres' metadata with the same date for its release, and the source
# archive of the commit.
get_filename_component(linux_dir "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
include("${linux_dir}/../source_tree.cmake")

# The date the packages carry (SOURCE_DATE_EPOCH), which string(TIMESTAMP) takes.
tovak_source_date_epoch("${GIT}" "${SOURCE_DIR}")
set(PROJECT_VERSION "${VERSION}")
set(TOVAK_DEB_PACKAGE "${PACKAGE}")
set(TOVAK_MAINTAINER "${MAINTAINER}")
string(TIMESTAMP TOVAK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP TOVAK_MAN_DATE "%Y-%m-%d" UTC)

# gzip -n: no name and no time in the header, so the bytes depend on the text alone.
function(write_gzipped template output)
    set(text "${output}.text")
    configure_file("${template}" "${text}" @ONLY)
    execute_process(COMMAND "${GZIP}" -9 -n -c "${text}" OUTPUT_FILE "${output}"
        RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip of ${text} failed: ${gzip_result}")
    endif()
endfunction()
write_gzipped("${linux_dir}/tovak-remote.1.in" "${MANUAL}")
configure_file("${linux_dir}/tovak-remote.metainfo.xml.in" "${METAINFO}" @ONLY)
write_gzipped("${linux_dir}/changelog.in" "${CHANGELOG}")

# The source archive: git archive of the commit, whose files carry the commit's time.
# With uncommitted changes to tracked files it holds the work tree's versions instead,
# as a commit of the same time, so that the archive is what the packages were built from.
file(REMOVE "${ARCHIVE}")
tovak_git_checkout(checkout "${GIT}" "${SOURCE_DIR}")
if(NOT checkout)
    message(STATUS "Not a git checkout: no source archive")
    return()
endif()
execute_process(COMMAND "${GIT}" log -1 --format=%ct WORKING_DIRECTORY "${SOURCE_DIR}"
    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(identity "Tovak Remote release")
set(address "release@tovak-remote.invalid")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env
        "GIT_AUTHOR_NAME=${identity}" "GIT_AUTHOR_EMAIL=${address}"
        "GIT_AUTHOR_DATE=${commit_time} +0000" "GIT_COMMITTER_NAME=${identity}"
        "GIT_COMMITTER_EMAIL=${address}" "GIT_COMMITTER_DATE=${commit_time} +0000"
        "${GIT}" stash create
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE tree
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(tree STREQUAL "")
    set(tree HEAD)
else()
    message(WARNING "Uncommitted changes: the source archive holds the work tree's tracked "
        "files, not the commit alone")
endif()
execute_process(COMMAND "${GIT}" archive --format=tar.gz "--prefix=${ARCHIVE_FOLDER}/"
        -o "${ARCHIVE}" ${tree}
    WORKING_DIRECTORY "${SOURCE_DIR}" COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Source archive: ${ARCHIVE}")
