# CPack's External generator runs this with the package's files staged in
# CPACK_TEMPORARY_DIRECTORY: it writes the zip with CMake's archiver, every file in
# sorted order and with the times of SOURCE_DATE_EPOCH (see cpack_options.cmake).
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${CPACK_TEMPORARY_DIRECTORY}"
    "${CPACK_TEMPORARY_DIRECTORY}/*")
list(SORT files)
set(zip "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
file(REMOVE "${zip}")
# A zip entry's DOS date and time are local times: take them in UTC, as the archiver
# takes SOURCE_DATE_EPOCH, so the builder's time zone does not show.
set(ENV{TZ} UTC)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${zip}" --format=zip -- ${files}
    WORKING_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}" RESULT_VARIABLE tar_result)
if(NOT tar_result EQUAL 0)
    message(FATAL_ERROR "Writing ${zip} failed: ${tar_result}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${zip}")
