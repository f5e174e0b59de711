# The Windows downloads, made by CPack: `cmake --build --preset win32 --target package`.
#
# The 32-bit build (the one we ship) writes into build/dist/
#   TovakRemote-<version>-win32.zip   tovakrem.exe and README.txt, nothing to install
#   TovakRemote-<version>-setup.exe   the per-user installer (NSIS)
#   SHA256SUMS                        both, in the format of sha256sum, and the Linux
#                                     downloads once the deb build has made them
# The 64-bit build (`--preset win64`) writes only TovakRemote-<version>-win64-setup.exe,
# from the same installer script, into build/dist-test/: the end-to-end test installs it
# where the machine cannot run 32-bit programs. It is never a download.
#
# Every name and version comes from project() in CMakeLists.txt.

set(TOVAK_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# CPack looks for NSIS.template.in on the module path before its own.
list(APPEND CMAKE_MODULE_PATH ${TOVAK_PACKAGING_DIR})

# What a package holds: the program and the README for Windows users (CRLF).
configure_file(${TOVAK_PACKAGING_DIR}/README.txt.in ${TOVAK_GENERATED}/README.txt @ONLY
    NEWLINE_STYLE CRLF)
install(TARGETS tovakrem RUNTIME DESTINATION .)
install(FILES ${TOVAK_GENERATED}/README.txt DESTINATION .)

set(CPACK_PACKAGE_NAME TovakRemote)
set(CPACK_PACKAGE_VENDOR "The Tovak Remote developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operates a motorised antenna controller from a Windows PC")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tovak Remote")
# One Apps & features entry for every version, so an update replaces it.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY TovakRemote)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(TOVAK_ARCH_NAME win32)
    set(CPACK_TOVAK_SETUP_NAME TovakRemote-${PROJECT_VERSION}-setup)
    set(CPACK_TOVAK_NSIS_TARGET x86-unicode)
    set(CPACK_GENERATOR External NSIS)
    set(CPACK_TOVAK_CHECKSUMS ON)
    set(TOVAK_DEFAULT_DIST_DIR ${CMAKE_SOURCE_DIR}/build/dist)
else()
    set(TOVAK_ARCH_NAME win64)
    set(CPACK_TOVAK_SETUP_NAME TovakRemote-${PROJECT_VERSION}-win64-setup)
    set(CPACK_TOVAK_NSIS_TARGET amd64-unicode)
    set(CPACK_GENERATOR NSIS)
    set(CPACK_TOVAK_CHECKSUMS OFF)
    set(TOVAK_DEFAULT_DIST_DIR ${CMAKE_SOURCE_DIR}/build/dist-test)
endif()
set(TOVAK_DIST_DIR ${TOVAK_DEFAULT_DIST_DIR} CACHE PATH
    "Where the package target puts the finished packages")
set(CPACK_TOVAK_DIST_DIR ${TOVAK_DIST_DIR})
set(CPACK_TOVAK_GENERATORS ${CPACK_GENERATOR})
set(CPACK_PACKAGE_FILE_NAME TovakRemote-${PROJECT_VERSION}-${TOVAK_ARCH_NAME})
set(CPACK_TOVAK_DOWNLOADS ${CPACK_PACKAGE_FILE_NAME}.zip ${CPACK_TOVAK_SETUP_NAME}.exe)
# SHA256SUMS covers the whole release, the Linux downloads of the deb build included; a
# new 32-bit program makes them old, so its run clears them.
include(${TOVAK_PACKAGING_DIR}/downloads.cmake)
set(CPACK_TOVAK_RELEASE ${TOVAK_RELEASE_DOWNLOADS})
if(CPACK_TOVAK_CHECKSUMS)
    set(CPACK_TOVAK_OUTDATED ${TOVAK_LINUX_DOWNLOADS})
endif()

# The zip. CPack's own ZIP generator fixes the times from SOURCE_DATE_EPOCH but stores
# the files in the order the file system lists the staging folder, which differs
# between machines, and the builder's user and group; so CPack stages the files and its
# External generator hands them to zip_package.cmake, which has zip_archive.py write
# them in sorted order with no owner.
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${TOVAK_PACKAGING_DIR}/zip_package.cmake)

# The installer: packaging/NSIS.template.in.
set(CPACK_NSIS_DISPLAY_NAME "Tovak Remote")
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/resources/tovakrem.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/resources/tovakrem.ico)
set(CPACK_TOVAK_PROGRAM_EXE tovakrem.exe)
set(CPACK_TOVAK_PROGRAM_MUTEX tovak-rem)
set(CPACK_TOVAK_VERSION_DOTTED ${TOVAK_VERSION_DOTTED})
set(CPACK_TOVAK_COPYRIGHT "${TOVAK_COPYRIGHT}")

include(${TOVAK_PACKAGING_DIR}/cpack_steps.cmake)
