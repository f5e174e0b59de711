# CPack's External generator runs this with the package's files staged in
# CPACK_TEMPORARY_DIRECTORY: zip_archive.py writes the zip, every file in sorted order,
# with the time of SOURCE_DATE_EPOCH (see cpack_options.cmake) and nothing of the account
# or the umask that built it.
set(zip "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
file(REMOVE "${zip}")
execute_process(COMMAND "${CPACK_TOVAK_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/zip_archive.py"
        --staging "${CPACK_TEMPORARY_DIRECTORY}" --time "$ENV{SOURCE_DATE_EPOCH}"
        --output "${zip}"
    RESULT_VARIABLE zip_result)
if(NOT zip_result EQUAL 0)
    message(FATAL_ERROR "Writing ${zip} failed: ${zip_result}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${zip}")
