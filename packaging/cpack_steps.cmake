# What every CPack set-up of ours ends with, in place of include(CPack): before each
# generator cpack_options.cmake clears the run's downloads and fixes the times inside
# the packages (SOURCE_DATE_EPOCH: source_tree.cmake); after it publish.cmake copies the
# downloads into the dist folder and writes SHA256SUMS.
find_package(Git QUIET)
set(CPACK_TOVAK_GIT "${GIT_EXECUTABLE}")
# The archives that must record nothing of the builder are written by our own scripts.
find_program(TOVAK_PYTHON python3 REQUIRED)
set(CPACK_TOVAK_PYTHON "${TOVAK_PYTHON}")
set(CPACK_TOVAK_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)
# A generator's own finishing steps (TOVAK_FINISHING_SCRIPTS) come before publishing.
set(CPACK_POST_BUILD_SCRIPTS ${TOVAK_FINISHING_SCRIPTS} ${CMAKE_CURRENT_LIST_DIR}/publish.cmake)
include(CPack)
