# The names of a release's downloads, each with the version from project(), in the order
# SHA256SUMS lists them: the Windows ones from the win32 build (packaging.cmake), the
# source archive and the Debian package from the deb build (linux/deb.cmake).
set(TOVAK_ZIP_DOWNLOAD TovakRemote-${PROJECT_VERSION}-win32.zip)
set(TOVAK_SETUP_DOWNLOAD TovakRemote-${PROJECT_VERSION}-setup.exe)
# The source archive unpacks into one folder of this name.
set(TOVAK_SOURCE_FOLDER TovakRemote-${PROJECT_VERSION})
set(TOVAK_SOURCE_DOWNLOAD ${TOVAK_SOURCE_FOLDER}-src.tar.gz)
set(TOVAK_DEB_PACKAGE tovak-remote)
set(TOVAK_DEB_ARCHITECTURE amd64)
set(TOVAK_DEB_DOWNLOAD ${TOVAK_DEB_PACKAGE}_${PROJECT_VERSION}_${TOVAK_DEB_ARCHITECTURE}.deb)
set(TOVAK_RELEASE_DOWNLOADS ${TOVAK_ZIP_DOWNLOAD} ${TOVAK_SETUP_DOWNLOAD}
    ${TOVAK_SOURCE_DOWNLOAD} ${TOVAK_DEB_DOWNLOAD})
set(TOVAK_LINUX_DOWNLOADS ${TOVAK_SOURCE_DOWNLOAD} ${TOVAK_DEB_DOWNLOAD})
