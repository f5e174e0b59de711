# Run at every build of the deb preset (cmake -P, settings as -D, see deb.cmake): the
# manual and the changelog with the packages' date, gzipped as Debian wants them, the
# software centres' metadata with the same date for its release, and the source
# archive.
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

# The source archive (source_archive.py): the files git tracks in a checkout, those the
# archive listed in a tree unpacked from it, with the packages' time in a file of its own.
file(REMOVE "${ARCHIVE}")
tovak_git_checkout(checkout "${GIT}" "${SOURCE_DIR}")
set(git_option "")
if(checkout)
    set(git_option --git "${GIT}")
endif()
execute_process(COMMAND "${PYTHON}" "${linux_dir}/../source_archive.py"
        --source "${SOURCE_DIR}" --folder "${ARCHIVE_FOLDER}" --time "$ENV{SOURCE_DATE_EPOCH}"
        --time-file "${TOVAK_SOURCE_TIME_FILE}" --output "${ARCHIVE}" ${git_option}
    COMMAND_ERROR_IS_FATAL ANY)
