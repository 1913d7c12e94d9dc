# `cpack -G DEB` in the build directory makes a .deb of what cmake/Install.cmake
# installs, shaped as Debian's policy asks: programs stripped, man pages
# compressed, the licence as the package's copyright file and a Debian
# changelog beside it. The changelogs and the libraries' documentation folders
# belong to the packages only: a plain `cmake --install` leaves them out
# (EXCLUDE_FROM_ALL), while CPack installs each component by name and so
# still gets them.
set(TALVECO_DEB_RELEASE 1)
set(TALVECO_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/talveco)

install(FILES LICENSE DESTINATION ${TALVECO_DOC_DIR} RENAME copyright COMPONENT program)

# The entry is dated by SOURCE_DATE_EPOCH when it is set, so that a rebuild
# can reproduce the package.
string(TIMESTAMP TALVECO_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/changelog.Debian.in ${PROJECT_BINARY_DIR}/changelog.Debian @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
talveco_gzip(talveco_debian_changelog ${PROJECT_BINARY_DIR}/changelog.Debian ${changelog})
install(FILES ${changelog} DESTINATION ${TALVECO_DOC_DIR} COMPONENT program EXCLUDE_FROM_ALL)

# Three packages, as Debian's policy has it for a shared library: the
# programs (talveco), the library named after its SONAME (libtalveco1) and
# what building against the libraries needs (libtalveco-dev). Each carries
# the licence and the changelog in its own documentation folder.
set(TALVECO_DEB_RUNTIME libtalveco${PROJECT_VERSION_MAJOR})
foreach(component_package IN ITEMS runtime:${TALVECO_DEB_RUNTIME} library:libtalveco-dev)
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES LICENSE DESTINATION ${doc} RENAME copyright COMPONENT ${component}
          EXCLUDE_FROM_ALL)
  install(FILES ${changelog} DESTINATION ${doc} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program runtime library)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME talveco)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TALVECO_DEB_RUNTIME})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libtalveco-dev)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libsoxr0")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS
    "${TALVECO_DEB_RUNTIME} (= ${PROJECT_VERSION}-${TALVECO_DEB_RELEASE})")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "ACM audio codec library, C interface
libtalveco decodes ACM audio streams (a compressed block format) into 16-bit
PCM samples and encodes samples into such streams, from files, memory or
callbacks, for programs in any language that can call C.")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "ACM audio codec libraries, development files
The C header, pkg-config entry (talveco-c) and link of libtalveco, and the
static C++20 decoding and encoding libraries with their headers, a CMake
package (talveco::c, talveco::decoder, talveco::encoder) and a pkg-config
file (talveco), for programs that decode or encode ACM streams.")
# The symbols file lists every exported function with the version that
# brought it; the trigger runs ldconfig once the library is unpacked. The
# shlibs file is written here rather than by CPack, whose own adds maintainer
# scripts that call ldconfig as well, which the trigger makes redundant.
configure_file(cmake/libtalveco1.symbols ${PROJECT_BINARY_DIR}/deb-control/symbols COPYONLY)
file(WRITE ${PROJECT_BINARY_DIR}/deb-control/triggers "activate-noawait ldconfig\n")
file(WRITE ${PROJECT_BINARY_DIR}/deb-control/shlibs
     "libtalveco ${PROJECT_VERSION_MAJOR} ${TALVECO_DEB_RUNTIME} (>= ${PROJECT_VERSION})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/deb-control/symbols ${PROJECT_BINARY_DIR}/deb-control/triggers
    ${PROJECT_BINARY_DIR}/deb-control/shlibs)

set(CPACK_PACKAGE_NAME talveco)
set(CPACK_PACKAGE_VENDOR "talveco developers")
set(TALVECO_DEB_SUMMARY "ACM audio converter and encoder")
set(CPACK_PACKAGE_DESCRIPTION
    "talveco converts ACM audio files (a compressed block format) into 16-bit PCM
RIFF WAVE files, exactly to the byte, and never leaves a damaged or
half-written output behind; talveco-decode decodes many files at once to
WAV, FLAC and other formats with the rates and channels they state;
talveco-encode turns WAV, AIFF, FLAC, Ogg Vorbis and other audio files back
into ACM.")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "${TALVECO_DEB_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
# CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before every package's
# description unless it is CPack's own default; here each package's
# description begins with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TALVECO_DEB_RELEASE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The project has no mail address; the reserved .invalid domain says so.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "talveco developers <talveco@talveco.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# talveco-encode reads its inputs, talveco-decode writes FLAC and others, through libsndfile;
# talveco-encode resamples through libsoxr.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libsndfile1, libsoxr0")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR DEB)
include(CPack)
