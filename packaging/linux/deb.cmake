# The Linux downloads, made from the programs of the win32 and win64 builds (built first):
#   cmake --preset deb && cmake --build --preset deb --target package
# writes into build/dist/, beside the Windows downloads, and rewrites SHA256SUMS over all:
#   tovak-remote_<version>_amd64.deb   by CPack's DEB generator: both programs, the
#                                      launcher, its manual, the menu entry, icons and
#                                      the software centres' metadata
#   TovakRemote-<version>-src.tar.gz   the sources, with their time in a file of their
#                                      own (from a git checkout, or a tree unpacked from
#                                      this archive: source_archive.py)
# Every name and version comes from project() in CMakeLists.txt; the times inside are
# SOURCE_DATE_EPOCH, as for the Windows downloads (cpack_options.cmake).

set(TOVAK_LINUX_DIR ${CMAKE_CURRENT_LIST_DIR})
get_filename_component(TOVAK_PACKAGING_DIR ${TOVAK_LINUX_DIR} DIRECTORY)
include(${TOVAK_PACKAGING_DIR}/downloads.cmake)

set(TOVAK_WIN32_PROGRAM ${CMAKE_SOURCE_DIR}/build/win32/tovakrem.exe CACHE FILEPATH
    "The 32-bit program the package holds (cmake --preset win32 builds it)")
set(TOVAK_WIN64_PROGRAM ${CMAKE_SOURCE_DIR}/build/win64/tovakrem.exe CACHE FILEPATH
    "The 64-bit build the package holds for machines without 32-bit support")
set(TOVAK_DIST_DIR ${CMAKE_SOURCE_DIR}/build/dist CACHE PATH
    "Where the package target puts the finished packages")
# Who answers for the package (its Maintainer field and changelog).
set(TOVAK_MAINTAINER "The Tovak Remote developers <tovak-remote@example.org>")
string(REGEX REPLACE "^Copyright \\(C\\) " "" TOVAK_COPYRIGHT_HOLDER "${TOVAK_COPYRIGHT}")

# Where things go, under /usr.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(TOVAK_PROGRAM_FOLDER lib/${TOVAK_DEB_PACKAGE})
set(TOVAK_PROGRAM_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${TOVAK_PROGRAM_FOLDER})
set(TOVAK_DOC_FOLDER share/doc/${TOVAK_DEB_PACKAGE})
set(TOVAK_ICON_SIZES 16 22 24 32 48 64 128 256)

foreach(program IN ITEMS TOVAK_WIN32_PROGRAM TOVAK_WIN64_PROGRAM)
    if(NOT EXISTS "${${program}}")
        message(FATAL_ERROR "${${program}} is missing: build it first (cmake --preset win32 "
            "&& cmake --build --preset win32, the same for win64), or set ${program}")
    endif()
endforeach()

set(TOVAK_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${TOVAK_LINUX_DIR}/tovak-remote.in ${TOVAK_GENERATED}/tovak-remote @ONLY)
configure_file(${TOVAK_LINUX_DIR}/copyright.in ${TOVAK_GENERATED}/copyright @ONLY)

# The manual and the changelog carry the packages' date, the source archive the sources
# and that date: all three are made again at every build (release_files.cmake).
find_package(Git QUIET)
find_program(TOVAK_GZIP gzip REQUIRED)
find_program(TOVAK_PYTHON python3 REQUIRED)
set(TOVAK_MANUAL ${TOVAK_GENERATED}/${TOVAK_DEB_PACKAGE}.1.gz)
# The software centres' metadata (AppStream), named after its component id.
set(TOVAK_APPSTREAM_ID org.example.tovak_remote)
set(TOVAK_METAINFO ${TOVAK_GENERATED}/${TOVAK_APPSTREAM_ID}.metainfo.xml)
set(TOVAK_CHANGELOG ${TOVAK_GENERATED}/changelog.gz)
set(TOVAK_SOURCE_ARCHIVE ${CMAKE_BINARY_DIR}/${TOVAK_SOURCE_DOWNLOAD})
add_custom_target(release_files ALL
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DGIT=${GIT_EXECUTABLE}
        -DGZIP=${TOVAK_GZIP} -DPYTHON=${TOVAK_PYTHON} -DVERSION=${PROJECT_VERSION}
        -DPACKAGE=${TOVAK_DEB_PACKAGE}
        "-DMAINTAINER=${TOVAK_MAINTAINER}" -DMANUAL=${TOVAK_MANUAL}
        -DMETAINFO=${TOVAK_METAINFO}
        -DCHANGELOG=${TOVAK_CHANGELOG} -DARCHIVE=${TOVAK_SOURCE_ARCHIVE}
        -DARCHIVE_FOLDER=${TOVAK_SOURCE_FOLDER} -P ${TOVAK_LINUX_DIR}/release_files.cmake
    VERBATIM)

install(PROGRAMS ${TOVAK_GENERATED}/tovak-remote DESTINATION bin)
# The launcher's own package, beside the programs (the entry point above finds it there).
set(TOVAK_LAUNCHER_MODULES __init__ bridge cli common framing places ports prefix report)
foreach(module IN LISTS TOVAK_LAUNCHER_MODULES)
    install(FILES ${TOVAK_LINUX_DIR}/tovak_remote/${module}.py
        DESTINATION ${TOVAK_PROGRAM_FOLDER}/tovak_remote)
endforeach()
# Under the program's own name, whatever the file given is called.
install(FILES ${TOVAK_WIN32_PROGRAM} DESTINATION ${TOVAK_PROGRAM_FOLDER}/win32
    RENAME tovakrem.exe)
install(FILES ${TOVAK_WIN64_PROGRAM} DESTINATION ${TOVAK_PROGRAM_FOLDER}/win64
    RENAME tovakrem.exe)
install(FILES ${TOVAK_LINUX_DIR}/tovak-remote.desktop DESTINATION share/applications)
install(FILES ${TOVAK_METAINFO} DESTINATION share/metainfo)
foreach(size IN LISTS TOVAK_ICON_SIZES)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/tovak-remote-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${TOVAK_DEB_PACKAGE}.png)
endforeach()
install(FILES ${TOVAK_MANUAL} DESTINATION share/man/man1)
install(FILES ${TOVAK_GENERATED}/copyright ${TOVAK_CHANGELOG} DESTINATION ${TOVAK_DOC_FOLDER})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TOVAK_DEB_PACKAGE})
set(CPACK_PACKAGE_VENDOR "The Tovak Remote developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operates a motorised antenna controller (Windows program under Wine)")
# The long description, in lines of fewer than 80 characters as Debian wants them.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tovak Remote shows the front panel of a motorised antenna controller, with\n"
    "its keys, LEDs, display and tuning-step indicator, and works it over a\n"
    "serial port (115200 baud, 8N1): it polls the controller, mirrors its state\n"
    "and sends its key presses. It also resets bands to their factory settings\n"
    "and adjusts the lengths of the antenna's elements.\n"
    "\n"
    "It is a Windows program; the tovak-remote command runs it under Wine in a\n"
    "prefix of the user's own, its COM ports leading to serial devices by name.")
set(CPACK_DEBIAN_FILE_NAME ${TOVAK_DEB_DOWNLOAD})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TOVAK_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOVAK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The 64-bit Wine runs the 64-bit build anywhere; the 32-bit one (an i386 package) runs
# the program as shipped for Windows.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, wine, wine64, fonts-inconsolata")
# notify-send tells of a remote station's link on the desktop, where it is installed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine32, libnotify-bin")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Modes as Debian wants them whatever the builder's umask: the control files' by CPack,
# the folders' by folder_modes.cmake, the outer archive's members' (with their owners
# and times) by deb_members.cmake.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${TOVAK_LINUX_DIR}/folder_modes.cmake)
set(TOVAK_FINISHING_SCRIPTS ${TOVAK_LINUX_DIR}/deb_members.cmake)

# The same steps as the Windows downloads (cpack_steps.cmake), SHA256SUMS over the
# whole release.
set(CPACK_TOVAK_DIST_DIR ${TOVAK_DIST_DIR})
set(CPACK_TOVAK_GENERATORS ${CPACK_GENERATOR})
set(CPACK_TOVAK_DOWNLOADS ${TOVAK_LINUX_DOWNLOADS})
set(CPACK_TOVAK_MADE_DOWNLOADS ${TOVAK_SOURCE_ARCHIVE})
set(CPACK_TOVAK_RELEASE ${TOVAK_RELEASE_DOWNLOADS})
set(CPACK_TOVAK_CHECKSUMS ON)
include(${TOVAK_PACKAGING_DIR}/cpack_steps.cmake)
