# `cpack -G DEB` in the build directory makes a .deb of what cmake/Install.cmake
# installs, shaped as Debian's policy asks: programs stripped, man pages
# compressed, the licence as the package's copyright file and a Debian
# changelog beside it.
set(TALVECO_DEB_RELEASE 1)
set(TALVECO_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/talveco)

install(FILES LICENSE DESTINATION ${TALVECO_DOC_DIR} RENAME copyright COMPONENT program)

# The entry is dated by SOURCE_DATE_EPOCH when it is set, so that a rebuild
# can reproduce the package.
string(TIMESTAMP TALVECO_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/changelog.Debian.in ${PROJECT_BINARY_DIR}/changelog.Debian @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
talveco_gzip(talveco_debian_changelog ${PROJECT_BINARY_DIR}/changelog.Debian ${changelog})
install(FILES ${changelog} DESTINATION ${TALVECO_DOC_DIR} COMPONENT program)

set(CPACK_PACKAGE_NAME talveco)
set(CPACK_PACKAGE_VENDOR "talveco developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ACM audio converter, encoder and libraries")
set(CPACK_PACKAGE_DESCRIPTION
    "talveco converts ACM audio files (a compressed block format) into 16-bit PCM
RIFF WAVE files, exactly to the byte, and never leaves a damaged or
half-written output behind; talveco-decode decodes many files at once to
WAV, FLAC and other formats with the rates and channels they state;
talveco-encode turns WAV, AIFF, FLAC, Ogg Vorbis and other audio files back
into ACM. The package also holds the static
decoding and encoding libraries with their C++20 headers, a CMake package
and a pkg-config file, for programs that decode or encode ACM streams.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TALVECO_DEB_RELEASE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The project has no mail address; the reserved .invalid domain says so.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "talveco developers <talveco@talveco.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# talveco-encode reads its inputs, talveco-decode writes FLAC and others, through libsndfile.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libsndfile1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR DEB)
include(CPack)
